// The time text of a Unix or DOS listing line, as an FTP server sends it.
#include "Fuzz.h"

#include "net/FtpConnection.h"

#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using quill::fuzz::Check;
    quill::fuzz::Input in(data, size);
    const int month = in.byte() % 12 + 1;
    const int day = in.byte() % 31 + 1;
    const int year = 1970 + in.byte();
    const auto time = quill::ParseListingTime(in.rest(), year, month, day);
    if (time) {
        Check(time->month >= 1 && time->month <= 12, "a month from 1 to 12");
        Check(time->day >= 1 && time->day <= 31, "a day from 1 to 31");
        Check(time->hour >= 0 && time->hour < 24, "an hour from 0 to 23");
        Check(time->minute >= 0 && time->minute < 60, "a minute from 0 to 59");
        Check(time->year > 0 && time->year <= 9999, "a year of at most four digits");
    }
    return 0;
}
