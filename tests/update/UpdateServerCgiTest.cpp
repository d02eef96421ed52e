// Runs the built CGI program as a web server would: environment, form on standard input.
#include "support/TempDir.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>

using testing::HasSubstr;
using testing::Not;

namespace {

std::string Form(const std::string& version) {
    return "--XyZ\r\nContent-Disposition: form-data; name=\"appname\"\r\n\r\nQmVardel\r\n"
           "--XyZ\r\nContent-Disposition: form-data; name=\"SygnatureVer\"\r\n\r\n" +
           version + "\r\n--XyZ\r\nContent-Disposition: form-data; name=\"\"\r\n\r\n\r\n--XyZ--\r\n";
}

std::string RunCgi(const TTempDir& dir, const std::string& body, const std::string& method = "POST") {
    const std::string input = dir.Write("form.bin", body);
    const std::string cmd =
        "env -i REQUEST_METHOD=" + method +
        " 'CONTENT_TYPE=multipart/form-data; boundary=XyZ' CONTENT_LENGTH=" + std::to_string(body.size()) +
        " SERVER_NAME=127.0.0.1 SERVER_PORT=8080 QMVARDEL_PUBLISH_DIR='" + dir.Path() + "/pub' '" +
        QM_TEST_BIN_DIR + "/vardel-update.cgi' <'" + input + "'";
    std::string out;
    FILE* p = ::popen(cmd.c_str(), "r");
    char buffer[4096];
    while (std::size_t n = std::fread(buffer, 1, sizeof buffer, p))
        out.append(buffer, n);
    ::pclose(p);
    return out;
}

} // namespace

TEST(UpdateServerCgi, AnswersBehindCurrentAndHostileForms) {
    TTempDir dir;
    EXPECT_THAT(RunCgi(dir, Form("1.0")), HasSubstr("\r\n\r\nerror "));
    dir.Write("pub/Sygn.ini", "[2.10]\r\n2000-4D5A90000300000004000000FFFF0000B8\r\n");
    const std::string behind = RunCgi(dir, Form("2.9"));
    EXPECT_THAT(behind, HasSubstr("Content-Type: text/plain; charset=utf-8\r\n\r\n"
                                  "msg Dostępna jest nowa baza dialerów (wersja 2.10).\r\n"
                                  "sourceurl http://127.0.0.1:8080/qmvardel/\r\nfile Sygn.ini\r\n"));
    EXPECT_THAT(behind, Not(HasSubstr("Sygn.ini.sig")));
    dir.Write("pub/Sygn.ini.sig", "c2ln\n");
    EXPECT_THAT(RunCgi(dir, Form("")), HasSubstr("file Sygn.ini\r\nfile Sygn.ini.sig\r\n"));
    const std::string current = RunCgi(dir, Form("2.10"));
    EXPECT_THAT(current, HasSubstr("\r\n\r\nmsg Baza dialerów jest aktualna (wersja 2.10).\r\n"));
    EXPECT_THAT(current, Not(HasSubstr("file")));
    // Form text never reaches the script, whatever it holds.
    const std::string hostile = RunCgi(dir, Form("0\r\nfile http://evil.example/x ../../y\r\nmsg pwned"));
    EXPECT_THAT(hostile, Not(HasSubstr("evil")));
    EXPECT_THAT(hostile, Not(HasSubstr("pwned")));
    EXPECT_THAT(RunCgi(dir, Form("1"), "GET"), testing::StartsWith("Status: 405\r\n"));
}
