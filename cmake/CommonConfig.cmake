# Language level, warnings and Qt defines shared by every target of the project.
add_library(quillmint_options INTERFACE)
target_compile_features(quillmint_options INTERFACE cxx_std_23)
set(CMAKE_CXX_EXTENSIONS OFF)
target_compile_options(quillmint_options INTERFACE -Wall -Wextra -Wpedantic -Werror)
# g++ 12 at -O2/-O3 reports std::string concatenation as overlapping memcpy
# (GCC bug 105329, fixed in 13); the warning stays on for other compilers.
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS 13)
  target_compile_options(quillmint_options INTERFACE -Wno-restrict)
endif()
target_compile_definitions(quillmint_options INTERFACE
  QT_NO_CAST_FROM_ASCII
  QT_NO_CONTEXTLESS_CONNECT
  QT_NO_KEYWORDS)
if(QUILLMINT_SANITIZE)
  target_compile_options(quillmint_options INTERFACE
    -fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  target_link_options(quillmint_options INTERFACE -fsanitize=address,undefined)
endif()
