#include "support/signed_release.h"

#include "core/common/crypto.h"
#include "core/common/paths.h"
#include "core/common/process.h"
#include "core/update/release_manifest.h"
#include "core/update/release_publish.h"

#include <signal.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <stdexcept>
#include <thread>

namespace tesmo::test {
namespace {

std::string developmentSecretKey() {
    return crypto::fromBase64(TESMO_RELEASE_TEST_SECRET);
}

} // namespace

bool developmentKeyTrusted() {
    // The second half of a libsodium secret key is its public key.
    return developmentSecretKey().substr(crypto::kSecretKeyBytes - crypto::kPublicKeyBytes) ==
           update::releasePublicKey();
}

std::string developmentSignature(const std::string &manifest) {
    return crypto::toBase64(crypto::signDetached(manifest, developmentSecretKey())) + "\n";
}

SignedRelease::SignedRelease(HttpTestServer &server) : m_server(server) {
    publish();
}

void SignedRelease::publish() {
    const std::string folder = "/tesmo_auto/";
    m_server.on(folder + update::kManifestFile, [this](const std::string &) {
        return HttpReply{200, manifest(), "text/plain"};
    });
    m_server.on(folder + update::kSignatureFile, [this](const std::string &) {
        return HttpReply{200, developmentSignature(manifest()), "text/plain"};
    });
}

void SignedRelease::serveFiles() {
    for (const auto &[name, bytes] : files)
        m_server.serve("/tesmo_auto/" + name, bytes, 200, "application/octet-stream");
}

std::string SignedRelease::manifest() const {
    update::ReleaseManifest list;
    list.serial = serial;
    for (const auto &[name, bytes] : files)
        list.files.push_back(
            {crypto::sha256Hex(bytes), static_cast<long long>(bytes.size()), name});
    return update::formatReleaseManifest(list);
}

SampleSiteProcess::SampleSiteProcess(const std::vector<std::string> &args,
                                     const std::string &scratchDir) {
    const std::string portFile = joinPath(scratchDir, "site.port");
    // A site started before left its port there.
    std::remove(portFile.c_str());
    std::vector<std::string> all = {"--port", "0", "--port-file", portFile, "--quiet"};
    all.insert(all.end(), args.begin(), args.end());
    m_pid = startProcess(std::string(TESMO_BIN_DIR) + "/tesmo-sample-site", all);
    for (int i = 0; i < 500 && fileLength(portFile) <= 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    std::ifstream in(portFile);
    int port = 0;
    if (m_pid <= 0 || !(in >> port))
        throw std::runtime_error("tesmo-sample-site did not start");
    m_url = "http://127.0.0.1:" + std::to_string(port);
}

SampleSiteProcess::~SampleSiteProcess() {
    if (m_pid > 0)
        ::kill(static_cast<pid_t>(m_pid), SIGTERM);
}

} // namespace tesmo::test
