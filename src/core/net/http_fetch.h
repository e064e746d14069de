#pragma once
// Every download of the programs: a file fetch that retries when nothing arrived and a text
// fetch for pages, with the proxy, credentials and time-out of the settings. The client itself
// is in http_client.h.
#include "core/common/ui_port.h"
#include "core/net/http_client.h"

#include <ctime>
#include <string>

namespace tesmo::net {

// The main program's proxy, credentials and time-out (proxychk, proxysv, proxyid, proxypd,
// tosec), as the fetches below set them. Raises when a number setting is not a number.
void applyMainSettings(HttpClient &client);

// Which program's settings a fetch reads: the main program's (proxychk/proxysv/proxyid/
// proxypd) or the updater's own (proxy/setproxy/userid/userps, under its own application).
enum class FetchSettings { Main, Updater };

// Downloads `url` into `outPath` through a temporary file in the install folder, retrying
// `retimes` times with `resec` seconds between tries when the body is empty. An empty
// `outPath` only checks that something arrived. Returns the empty text on success, else a
// message; the caption of `port` shows the retries and is restored at the end.
std::string FetchToFile(const std::string &url, UiPort &port, HttpClient &client,
                        const std::string &outPath, FetchSettings settings = FetchSettings::Main);

// Fetches `url` as text into `text` with one request. Returns the empty text on success
// (an empty body included), else a message. The caption is left alone.
std::string FetchToText(const std::string &url, UiPort &port, HttpClient &client,
                        std::string &text);

// Name of a temporary download file for the moment given: "ddhhnnss_" (day, hour, minute,
// second), a number from 1 to 512 and ".tmp".
std::string tempDownloadName(std::time_t when, int number);

} // namespace tesmo::net
