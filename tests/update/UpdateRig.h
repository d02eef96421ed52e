#pragma once
// The update client over real HTTP on 127.0.0.1 and real files in a temporary folder.
#include "fakes/FakeEventPump.h"
#include "fakes/FakePorts.h"
#include "net/uCurlHttpTransport.h"
#include "platform/linux/uLinuxUpdateFiles.h"
#include "support/TempDir.h"
#include "support/TestHttpServer.h"
#include "update/uQmHttpUpdate.h"

#include <filesystem>
#include <map>
#include <set>

// Serves a reply script to every POST and the files of Files to GETs of their paths (404 else).
struct TUpdateServer {
    std::mutex Lock;
    std::string Script;
    int ScriptStatus = 200;
    std::map<std::string, TTestReply> Files;
    TTestHttpServer Http{[this](const TTestRequest& r) {
        return Answer(r);
    }};

    TTestReply Answer(const TTestRequest& r) {
        const std::lock_guard<std::mutex> guard(Lock);
        if (r.Method == "POST")
            return {ScriptStatus, Script, "text/plain", {}};
        const auto it = Files.find(r.Target);
        if (it == Files.end())
            return {404, "<html><body><h1>404 Not Found</h1></body></html>", "text/html", {}};
        return it->second;
    }
    void Serve(const std::string& path, std::string body) {
        const std::lock_guard<std::mutex> guard(Lock);
        Files[path] = TTestReply{200, std::move(body), "application/octet-stream", {}};
    }
    void SetScript(std::string script) {
        const std::lock_guard<std::mutex> guard(Lock);
        Script = std::move(script);
    }
    std::string Url(const std::string& path) const { return Http.Url(path); }
};

// Every regular file and link below root, relative to it.
inline std::set<std::string> TreeOf(const std::string& root) {
    std::set<std::string> out;
    std::error_code ec;
    for (auto it = std::filesystem::recursive_directory_iterator(root, ec);
         !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec))
        if (!it->is_directory())
            out.insert(it->path().lexically_relative(root).string());
    return out;
}

class TUpdateRig {
public:
    TTempDir Temp;
    std::string RecvDir = Temp / "recv";
    TUpdateServer Server;
    TFakeEventPump Pump;
    TCurlHttpTransport Http{&Pump};
    TLinuxUpdateFiles Files;
    TFakeProgramImage Image;
    TQmHttpUpdate Client{{.Http = Http, .Files = Files, .Image = Image, .SystemInfo = nullptr}};
    std::vector<std::string> Log;

    TUpdateRig() {
        std::filesystem::create_directories(RecvDir);
        std::filesystem::create_directories(Temp / "unzip");
        Client.OnAddToLog = [this](TQmHttpUpdate&, const std::string& line) {
            Log.push_back(line);
        };
        Client.SetFilesToRecvDir(RecvDir);
        Client.SetUnzipDir(Temp / "unzip");
        Client.URLToUpdate = Server.Url("/cgi-bin/vardel-update.pl");
        Client.AppName = "QmVardel";
    }
    bool Run(const std::string& script) {
        Server.SetScript(script);
        Log.clear();
        return Client.Update();
    }
};
