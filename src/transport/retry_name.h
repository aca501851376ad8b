// Where a file that the data centre refused goes next: X.xml becomes X.xml1, X.xml2 ...
// X.xml5, and the refusal after that moves it into the Error folder as X.xml.
#pragma once

#include <string>
#include <string_view>

namespace vemtu {

// The path `path` moves to after one more refusal, or empty when it stays where it is.
// `separator` is the platform's path separator; `error_folder` has no trailing one.
//  - a path ending in "5": the Error folder + the file name without its last character
//    (nothing when the path has no separator);
//  - a file name whose last "." is followed by exactly three characters: path + "1";
//  - followed by more: the path without its last character + (the number that starts
//    at the fourth character after the "." + 1), read as leading digits only (no blank,
//    no sign; none counts as 0);
//  - a file name without "." or with fewer than three characters after its last ".":
//    nothing; the file stays for the next run as with the other methods, since such a
//    name has no place for the retry count;
//  - a target longer than `max_chars` characters: nothing (a cut name could replace an
//    unrelated file).
std::string RetryTarget(std::string_view path, std::string_view error_folder, char separator,
                        std::size_t max_chars);

}  // namespace vemtu
