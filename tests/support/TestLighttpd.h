#pragma once
// lighttpd on a free port of 127.0.0.1 running the built update server as
// /cgi-bin/vardel-update.pl, publishing from <root>/www/qmvardel. Its own configuration and error
// log live in root; the server is ended with the object.
#include "support/PollUntil.h"
#include "support/TestHttpServer.h"

#include <csignal>
#include <filesystem>
#include <fstream>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

class TTestLighttpd {
public:
    static bool Installed() { return std::system("command -v lighttpd >/dev/null 2>&1") == 0; }

    explicit TTestLighttpd(const std::string& root) : FRoot(root), FPort(TTestHttpServer::DeadPort()) {
        const std::string www = root + "/www";
        std::filesystem::create_directories(www + "/cgi-bin");
        std::filesystem::create_directories(www + "/qmvardel");
        std::filesystem::copy_file(std::string(QM_TEST_BIN_DIR) + "/vardel-update.cgi",
                                   www + "/cgi-bin/vardel-update.pl",
                                   std::filesystem::copy_options::overwrite_existing);
        const std::string conf = root + "/lighttpd.conf";
        std::ofstream(conf) << "server.document-root = \"" << www << "\"\nserver.bind = \"127.0.0.1\"\n"
                            << "server.port = " << FPort << "\nserver.errorlog = \"" << ErrorLogPath()
                            << "\"\nserver.modules = (\"mod_cgi\", \"mod_setenv\")\n"
                            << "cgi.assign = (\".pl\" => \"\")\n"
                            << "setenv.add-environment = (\"QMVARDEL_PUBLISH_DIR\" => \"" << PublishDir()
                            << "\")\n";
        FPid = ::fork();
        if (FPid == 0) {
            ::execlp("lighttpd", "lighttpd", "-D", "-f", conf.c_str(), static_cast<char*>(nullptr));
            ::_exit(127);
        }
        PollUntil([&] { return Ready(); }, std::chrono::milliseconds(5000));
    }
    ~TTestLighttpd() {
        if (FPid > 0) {
            ::kill(FPid, SIGTERM);
            ::waitpid(FPid, nullptr, 0);
        }
    }
    TTestLighttpd(const TTestLighttpd&) = delete;
    TTestLighttpd& operator=(const TTestLighttpd&) = delete;

    bool Ready() const {
        const int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_port = htons(static_cast<std::uint16_t>(FPort));
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        const bool ok = ::connect(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
        ::close(s);
        return ok;
    }
    std::string Url() const {
        return "http://127.0.0.1:" + std::to_string(FPort) + "/cgi-bin/vardel-update.pl";
    }
    // Where a signature author copies Sygn.ini and Sygn.ini.sig.
    std::string PublishDir() const { return FRoot + "/www/qmvardel"; }
    std::string ErrorLogPath() const { return FRoot + "/error.log"; }

private:
    std::string FRoot;
    int FPort;
    pid_t FPid = -1;
};
