// vardel-update.pl's counterpart: the CGI program that answers QmVardel's update form.
//
// It reads the form's "SygnatureVer" field, compares it with the version line of the published
// Sygn.ini and answers with a reply script: "msg", then "sourceurl" and "file" lines for Sygn.ini
// (and Sygn.ini.sig when it is published) when the client is behind, or only "msg" when it is
// current. Nothing of the form is ever written into the reply: a script line made from the
// client's text could order downloads of its own.
//
// Settings (environment, e.g. set by the web server): QMVARDEL_PUBLISH_DIR, the folder holding the
// published files (default /var/www/html/qmvardel); QMVARDEL_PUBLISH_URL, the URL that folder is
// served under (default http://SERVER_NAME[:SERVER_PORT]/qmvardel/).
#include "update/uDatabaseCheck.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <optional>
#include <string>

namespace {

constexpr std::size_t kMaxForm = 64 * 1024;

std::string Env(const char* name, const std::string& fallback = {}) {
    const char* value = std::getenv(name);
    return value && *value ? value : fallback;
}

// Only what a version or a URL needs; anything else is dropped, so no value can break a line.
std::string Clean(const std::string& text, const std::string& extra, std::size_t max) {
    std::string out;
    for (const char c : text) {
        const bool ok = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                        extra.find(c) != std::string::npos;
        if (ok && out.size() < max)
            out += c;
    }
    return out;
}

// The value of the multipart field name, or nothing.
std::optional<std::string> FormField(const std::string& body, const std::string& contentType,
                                     const std::string& name) {
    const std::size_t b = contentType.find("boundary=");
    if (b == std::string::npos)
        return std::nullopt;
    std::string boundary = contentType.substr(b + 9);
    if (boundary.size() >= 2 && boundary.front() == '"')
        boundary = boundary.substr(1, boundary.find('"', 1) - 1);
    boundary = "--" + boundary.substr(0, boundary.find(';'));
    const std::string header = "name=\"" + name + "\"";
    std::size_t pos = 0;
    while ((pos = body.find(boundary, pos)) != std::string::npos) {
        pos += boundary.size();
        const std::size_t headEnd = body.find("\r\n\r\n", pos);
        if (headEnd == std::string::npos)
            return std::nullopt;
        const std::string head = body.substr(pos, headEnd - pos);
        const std::size_t valueStart = headEnd + 4;
        const std::size_t valueEnd = body.find("\r\n" + boundary, valueStart);
        if (valueEnd == std::string::npos)
            return std::nullopt;
        if (head.find(header) != std::string::npos)
            return body.substr(valueStart, valueEnd - valueStart);
        pos = valueEnd;
    }
    return std::nullopt;
}

// The version line of the published database, read from its first bytes only.
std::optional<std::string> PublishedVersion(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return std::nullopt;
    std::string first;
    std::getline(in, first);
    if (first.starts_with("\xEF\xBB\xBF"))
        first.erase(0, 3);
    while (!first.empty() && (first.back() == '\r' || first.back() == ' '))
        first.pop_back();
    if (first.size() < 2 || first.front() != '[' || first.back() != ']')
        return std::string();
    return Clean(first.substr(1, first.size() - 2), ".-_", 40);
}

bool Exists(const std::string& path) {
    return std::ifstream(path).good();
}

int Reply(int status, const std::string& script) {
    if (status != 200)
        std::cout << "Status: " << status << "\r\n";
    std::cout << "Content-Type: text/plain; charset=utf-8\r\n\r\n" << script;
    return 0;
}

} // namespace

int main() {
    if (Env("REQUEST_METHOD") != "POST")
        return Reply(405, "error Oczekiwano formularza aktualizacji\r\n");
    const std::string contentType = Env("CONTENT_TYPE");
    const std::size_t length = std::strtoul(Env("CONTENT_LENGTH", "0").c_str(), nullptr, 10);
    if (!contentType.starts_with("multipart/form-data") || length > kMaxForm)
        return Reply(400, "error Niepoprawny formularz aktualizacji\r\n");
    std::string body(length, '\0');
    std::cin.read(body.data(), static_cast<std::streamsize>(length));
    body.resize(static_cast<std::size_t>(std::cin.gcount()));

    const std::string dir = Env("QMVARDEL_PUBLISH_DIR", "/var/www/html/qmvardel");
    const std::string port = Env("SERVER_PORT", "80");
    std::string url =
        Env("QMVARDEL_PUBLISH_URL", "http://" + Clean(Env("SERVER_NAME", "localhost"), ".-", 255) +
                                        (port == "80" ? "" : ":" + Clean(port, "", 5)) + "/qmvardel/");
    url = Clean(url, ":/.-_~%", 1024);
    if (!url.ends_with('/'))
        url += '/';

    const std::optional<std::string> published = PublishedVersion(dir + "/Sygn.ini");
    if (!published)
        return Reply(200, "error Serwer nie ma opublikowanej bazy dialerów\r\n");
    const std::string client = FormField(body, contentType, "SygnatureVer").value_or("");
    if (!client.empty() && qm::CompareVersions(client, *published) >= 0)
        return Reply(200, "msg Baza dialerów jest aktualna (wersja " + *published + ").\r\n");
    std::string script = "msg Dostępna jest nowa baza dialerów (wersja " + *published + ").\r\n";
    script += "sourceurl " + url + "\r\n";
    script += "file Sygn.ini\r\n";
    if (Exists(dir + "/Sygn.ini.sig"))
        script += "file Sygn.ini.sig\r\n";
    return Reply(200, script);
}
