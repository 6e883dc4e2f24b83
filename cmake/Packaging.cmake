# `cpack -G DEB` in a build folder makes quillmint_<version>_<arch>.deb from the
# install rules. Its Depends come from the libraries the program links
# (dpkg-shlibdeps), plus the Qt platform plugins and libsecret (QtKeychain's
# way to the desktop keyring), which are loaded rather than linked.
set(CPACK_PACKAGE_NAME quillmint)
set(CPACK_PACKAGE_VENDOR Brindlecast)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
  "turns questions and answers into HTML articles and publishes them")
set(CPACK_PACKAGE_DESCRIPTION
  "Quillmint is a desktop tool for people who run small websites. It finds\n\
questions and answers on a Q&A service through a web search, turns them into\n\
HTML article files, lets you edit them with an advert, a subject and keywords\n\
header and a date in front, and publishes files to your web host with its own\n\
two-pane FTP client.")
set(CPACK_PACKAGE_CONTACT "Brindlecast <support@quillmint.example>")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION web)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://www.quillmint.example/")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins, libsecret-1-0")
set(CPACK_DEBIAN_COMPRESSION_TYPE gzip)

include(CPack)
