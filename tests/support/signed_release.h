#pragma once
// Releases signed as the sample update site signs them: with the development key pair of
// data/, which the programs trust unless a build names another release key.
#include "support/http_test_server.h"

#include <map>
#include <string>

namespace tesmo::test {

// Whether this build trusts the development key; the signed-update tests skip otherwise.
bool developmentKeyTrusted();
// The text of modules.sha256.sig for `manifest`, signed with the development key.
std::string developmentSignature(const std::string &manifest);

// The signed list of a loopback update site. At each request it lists `files` (name and the
// bytes the publisher signed, whatever the site serves under that name) with `serial`.
class SignedRelease {
public:
    explicit SignedRelease(HttpTestServer &server);
    // Serves the list and its signature (again, after a test replaced either).
    void publish();
    // Serves every file of `files` under its name, as the publisher signed it.
    void serveFiles();
    std::string manifest() const;

    std::map<std::string, std::string> files;
    long long serial = 1;

private:
    HttpTestServer &m_server;
};

// The sample site program on a free loopback port, stopped with this object.
class SampleSiteProcess {
public:
    // Starts tesmo-sample-site with `args` besides its port options; `scratchDir` takes its
    // port file. Raises std::runtime_error when the site does not come up.
    SampleSiteProcess(const std::vector<std::string> &args, const std::string &scratchDir);
    ~SampleSiteProcess();
    SampleSiteProcess(const SampleSiteProcess &) = delete;
    SampleSiteProcess &operator=(const SampleSiteProcess &) = delete;

    // "http://127.0.0.1:<port>"
    const std::string &url() const { return m_url; }

private:
    long m_pid = 0;
    std::string m_url;
};

} // namespace tesmo::test
