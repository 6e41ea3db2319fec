#include "res/strings.h"

#include <array>
#include <utility>

namespace fw::res {
namespace {

constexpr std::pair<int, std::string_view> kStrings[] = {
    {101, "&About Fablewright Update Downloader..."},
    {103, "Windows sockets initialization failed."},
    {104, "Fablewright does not appear to be installed. The updates cannot be downloaded. "
          "Reinstall Fablewright from the original installation files or CDROM."},
    {105, "Step %d:\r\nFirst connect to the Internet if you are not already connected. Then click "
          "Check to see what updates are available for the templates installed in your "
          "Fablewright directory."},
    {106, "Step %d:\r\nThe updaters have been downloaded. Click Install to install the updates. "
          "Note: the updater may display installation notes. Please read these and close the "
          "window when you're done."},
    {107, "updates.corvallen.com"},
    {108, "Software\\Corvallen\\Fablewright"},
    {109, "InstallDir"},
    {110, "FablewrightBetaUpdates.txt"},
    {111, "FablewrightUpdates.txt"},
    {112, "Unable to establish a connection to the update server %s."},
    {113, "Unable to create an internet session."},
    {114, "Error"},
    {115, "The update is currently unavailable (code %d). Please try again later."},
    {118, "The update definitions contain a definition with a bad format."},
    {119, "Step %d:\r\nThe version available for download is %s. The templates listed below can "
          "be updated. Double-click any templates you do not wish to update. Make sure you have "
          "at least %s bytes of available disk space. Then click Download to download the "
          "updates."},
    {120, "The installation of the updates is complete. Click Exit to leave."},
    {121, "Time remaining: %d:%02d:%02d. Bytes transferred: %s of %s."},
    {122, "Are you sure you wish to cancel the download?"},
    {123, "Cancel Download?"},
    {124, "Transmission errors occurred downloading the file %s. The file's checksum is "
          "incorrect."},
    {125, "An error occurred downloading the file %s. Do you wish to try downloading the file "
          "again?"},
    {126, "Try Again?"},
    {127, "An error occurred writing the file %s. There may not be enough space on the drive."},
    {129, "Step %d.\r\nClick Install to install the %s update. Note: the updater may display "
          "installation notes. Please read these and close the window when you're done."},
    {130, "There is currently no beta version available. Update to the\nmost recently released "
          "version if you need to update\nyour software."},
    {131, "Note"},
    {132, "Unable to create the updater file %s."},
    {134, "The file %s cannot be located on the server (code %d)."},
    {135, "An error occurred attempting to download %s."},
    {136, "The update definitions file is a newer version than the update downloader.\r\n\r\n"
          "Clear your Internet Explorer cache and download the update downloader again.\r\n\r\n"
          "The version of the update definitions file is %s. The version of the application is "
          "%d."},
    {137, "You have not installed all the downloaded updates. Do you wish to exit anyway?\r\n\r\n"
          "Click Yes to exit without installing the remaining updates."},
    {138, "Exit Without Installing All?"},
    {140, "wright\\Source Directory"},
    {141, "Installing %s..."},
    {142, "Click Install to update %s."},
    {143, "You have removed all templates from the list. There is nothing to install."},
    {144, "Select Beta Install Directory"},
    {145, "The beta version must be installed to a different directory."},
    {146, "Unable to create the beta version directory %s.\r\n\r\nMake sure you have permission "
          "to create files in the selected directory."},
    {147, "%s already exists and is not a directory.\r\n\r\nChoose a different directory for the "
          "installation of the beta version."},
    {148, "Unable to start the updater %s.\r\n\r\nClick Install to try again, or Exit to leave "
          "without installing the remaining updates."},
    {149, "The update definitions are not signed. Updates are accepted only with the "
          "publisher's signature, so nothing can be installed from them."},
    {150, "The update definitions are signed with a key that this program does not trust (key "
          "%s). Nothing can be installed from them."},
    {151, "The signature of the update definitions cannot be read. Nothing can be installed "
          "from them."},
    {152, "The update definitions do not match their signature. They may have been altered on "
          "the way, so nothing can be installed from them."},
    {153, "The update definitions have lines after their signature. They may have been altered "
          "on the way, so nothing can be installed from them."},
    {154, "The update definitions have no valid serial number. Nothing can be installed from "
          "them."},
    {155, "The update definitions were signed for %s, not for %s. Nothing can be installed "
          "from them."},
    {156, "The update definitions (serial %s) are older than those this program has already "
          "accepted (serial %s). An old copy may have been sent in their place, so nothing can "
          "be installed from them."},
    {157, "The update definitions do not give the SHA-256 digest of the updater for %s. "
          "Nothing can be installed from them."},
    {158, "The file %s has been altered: its contents differ from what the publisher signed. "
          "It has been deleted."},
    {159, "The updater %s has been altered since it was downloaded. It has been deleted and "
          "will not be started.\r\n\r\nClick Exit, then check and download the updates again."},
    {160, "The identity of the update server %s could not be verified. Its certificate has "
          "expired, names another server or comes from an authority this computer does not "
          "trust. Please try again later."},
    {161, "The identity of the server could not be verified while downloading %s. Its "
          "certificate has expired, names another server or comes from an authority this "
          "computer does not trust."},
    {162, "The identity of the information server %s could not be verified, so the list of "
          "installed templates was not sent to it."},
    {163, "The folder %s for the downloaded updaters is not yours alone: another user owns it, "
          "other users may write to it, or it is not a plain folder. Nothing has been "
          "downloaded. Remove it, or make it a folder that only you can write to, and try "
          "again."},
    {164, "Trusts update definitions signed by key %s."},
    {165, "This build checks no signatures: it trusts any update definitions."},
    {166, "Warning: this build trusts no publisher key and checks no signatures on the update "
          "definitions."},
    {167, "The update definitions came over https but name the information server %s without "
          "https, which would send the list of installed templates in the clear. Nothing can "
          "be installed from these definitions."},
    {168, "The update definitions came over https but name the updater %s without https. "
          "Nothing can be installed from these definitions."},
    {169, "The update definitions expired on %s (UTC). Newer definitions may be being withheld "
          "from you, for example by someone between you and the server. Nothing can be "
          "installed from these definitions; try again later, and tell the publisher if this "
          "goes on."},
    {170, "The expiry date of the update definitions (%s) cannot be read. Nothing can be "
          "installed from these definitions."},
    {173, "The beta version directory name contains a control character (such as a tab or a "
          "line break).\r\n\r\nChoose a different directory for the beta version."},
    {174, "The beta version directory %s could not be remembered in the settings; another "
          "program may be holding them. The next update will ask for it again."},
    {175, "The update definitions give different updaters for %s and %s the same file name, "
          "%s. Neither can be installed safely until the publisher gives them names of their "
          "own."},
    {183, "Fablewright updates are available"},
    {184, "Version %s is available for %s."},
    {180, "The server is busy and asks to be tried again in %d seconds. Do you wish to check "
          "for updates again?"},
    {185, "%s and %d more"},
    {186, "Update now"},
    {187, "Later"},
    {188, "Skip this version"},
    {189, "No network connection: the scheduled check waits for the next time."},
    {190, "The network connection is metered: the scheduled check waits for the next time."},
    {191, "Version %s was skipped: no notification."},
    {192, "-notify and -scheduled go with -quietcheck."},
    {200, "The server is busy and asks to be tried again in %d seconds. Do you wish to try "
          "downloading the file %s again?"},
};

}  // namespace

std::string_view LoadString(int id) {
    for (const auto& [number, text] : kStrings) {
        if (number == id) return text;
    }
    return {};
}

}  // namespace fw::res
