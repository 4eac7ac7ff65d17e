// Looking up ca.pem, client.pem and client.key through the bounded reader of common.
#include "TlsTrust.h"

#include "common/RegularFile.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <vector>

namespace portlink {
namespace {

// A PEM file of ours is a few certificates; anything far larger is not one.
constexpr std::size_t kLargestPem = std::size_t{256} * 1024;

// Reads folder/file into bytes: true when read, false with reason when it exists and cannot be; missing
// stays false with reason empty.
bool readPem(const std::string& folder, const char* file, std::string& bytes, std::string& reason) {
    const std::string path = folder + "/" + file;
    common::FileBytes read = common::readRegularFile(path, kLargestPem);
    if (read.outcome == common::FileBytes::Outcome::Read) {
        bytes = std::move(read.bytes);
        return true;
    }
    if (read.outcome == common::FileBytes::Outcome::Skipped) {
        reason = "cannot read " + path + ": " + read.problem;
    }
    return false;
}

// The user's folders lie in $XDG_CONFIG_HOME (or ~/.config).
std::string configHome() {
    if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg != nullptr && xdg[0] == '/') {
        return xdg;
    }
    const char* home = std::getenv("HOME");
    return std::string(home != nullptr ? home : "") + "/.config";
}

std::vector<std::string> tlsFolders(const std::string& host) {
    const std::string userRoot = configHome() + "/VellPortDll/tls";
    const std::string systemRoot = "/etc/VellPortDll/tls";
    std::string folderName = host;
    std::transform(folderName.begin(), folderName.end(), folderName.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return {userRoot + "/" + folderName, systemRoot + "/" + folderName, userRoot, systemRoot};
}

} // namespace

bool findTlsTrust(const std::string& host, TlsTrust& trust, std::string& reason) {
    const std::vector<std::string> folders = tlsFolders(host);
    trust = {};
    reason.clear();
    for (const std::string& folder : folders) {
        if (readPem(folder, "ca.pem", trust.ca, reason)) {
            trust.folder = folder;
            break;
        }
        if (!reason.empty()) {
            return false;
        }
    }
    if (trust.folder.empty()) {
        reason = "no ca.pem to check the server against: put the CA's certificate (or the server's own) in "
                 "one of ";
        for (std::size_t i = 0; i < folders.size(); ++i) {
            reason += (i == 0 ? "" : i + 1 == folders.size() ? " or " : ", ") + folders[i] + "/";
        }
        return false;
    }
    const std::string keyPath = trust.folder + "/client.key";
    const common::OpenedFile key = common::openRegularFile(keyPath);
    // As ssh refuses a private key others may read: it is no longer the client's alone.
    if (key.fd.valid() && (key.status.st_mode & (S_IRWXG | S_IRWXO)) != 0) {
        reason = keyPath + " is readable by group or others: chmod 600 it";
        return false;
    }
    const bool certificate = readPem(trust.folder, "client.pem", trust.clientCertificate, reason);
    if (!reason.empty()) {
        return false;
    }
    const bool privateKey = readPem(trust.folder, "client.key", trust.clientKey, reason);
    if (!reason.empty()) {
        return false;
    }
    if (certificate != privateKey) {
        reason = trust.folder + (certificate ? " holds client.pem without client.key"
                                             : " holds client.key without client.pem");
        return false;
    }
    return true;
}

} // namespace portlink
