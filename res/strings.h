#pragma once
// The string table: every text the user sees, by number.

#include <string>
#include <string_view>

namespace fw::res {

// The text of string `id`, or an empty text when there is none.
std::string_view LoadString(int id);

// Hosts that the program talks to unless the command line says otherwise. The update server is
// string 107; the information host is a setting of its own.
inline constexpr std::string_view kDefaultInfoServer = "info.corvallen.com";
inline constexpr std::string_view kDefaultInfoPath = "vrn/sendupdinfo.php";

// The application's name: the user agent of its HTTP requests and the caption of its own boxes.
inline constexpr std::string_view kAppName = "Fablewright Update Downloader";

// The application version, also the highest update definitions format it reads.
inline constexpr int kAppVersion = 3;

}  // namespace fw::res
