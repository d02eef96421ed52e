// The reply script of TQmHttpUpdate: the line split, the standard commands and the extraction pass.
#include "update/uQmHttpUpdate.h"

#include "util/libStrUtilsQmPack.h"
#include "util/uFormat.h"
#include "util/uQmError.h"

#include <array>

namespace {

struct TStandardCmdDef {
    const char* Name;
    int Min;
    int Max; // -1: that side has no bound
};

constexpr std::array<TStandardCmdDef, 7> kStandardCmds = {{
    {"#", -1, -1},
    {"lastversion", 1, 1},
    {"sourceurl", 1, 1},
    {"msg", 1, -1},
    {"msgfile", 1, 1},
    {"file", 1, 2},
    {"error", -1, -1},
}};

constexpr std::size_t kMaxMessageChars = 255;

std::vector<std::string> SplitFields(const std::string& line, char delimiter) {
    std::vector<std::string> fields(1);
    for (const char c : line) {
        if (c == delimiter)
            fields.emplace_back();
        else
            fields.back() += c;
    }
    return fields;
}

int WordCount(const std::string& line, char delimiter) {
    int count = 0;
    bool inWord = false;
    for (const char c : line) {
        const bool word = c != delimiter;
        if (word && !inWord)
            ++count;
        inWord = word;
    }
    return count;
}

// The first count characters of text; a UTF-8 sequence counts as one character and is never cut.
std::string FirstChars(const std::string& text, std::size_t count) {
    std::size_t i = 0;
    for (std::size_t n = 0; i < text.size() && n < count; ++n) {
        ++i;
        while (i < text.size() && (static_cast<unsigned char>(text[i]) & 0xC0) == 0x80)
            ++i;
    }
    return text.substr(0, i);
}

template <class E, class... A> void Raise(const E& event, A&&... args) {
    if (event)
        event(std::forward<A>(args)...);
}

} // namespace

std::string TQmHttpUpdate::LineMessage(const std::string& line) const {
    const std::size_t pos = line.find(CmdDelimiter);
    if (pos == std::string::npos)
        return {};
    return qm::Trim(FirstChars(line.substr(pos), kMaxMessageChars));
}

bool TQmHttpUpdate::ExecScript() {
    Raise(OnExecScriptBegin, *this);
    FFilesToRecv = 0;
    auto commandOf = [this](const std::string& line) {
        return qm::LowerAscii(qm::Trim(SplitFields(line, CmdDelimiter).front()));
    };
    if (HandleStdCmd)
        for (const std::string& line : FReply)
            if (const std::string cmd = commandOf(line); cmd == "file" || cmd == "msgfile")
                ++FFilesToRecv;

    for (const std::string& line : FReply) {
        const std::vector<std::string> fields = SplitFields(line, CmdDelimiter);
        const std::string cmd = qm::LowerAscii(qm::Trim(fields.front()));
        const int count = WordCount(line, CmdDelimiter);
        TStringList params;
        for (int i = 1; i < count && static_cast<std::size_t>(i) < fields.size(); ++i)
            params.push_back(fields[static_cast<std::size_t>(i)]);

        bool vError = false;
        bool handled = false;
        if (HandleStdCmd)
            handled = ExecStdCmd(cmd, params, line, vError);
        if (!handled && OnCmd)
            OnCmd(*this, vError, cmd, params, line);
        if (FAborted || vError) {
            Raise(OnExecScriptError, *this);
            return false;
        }
    }

    if (UnzipFiles) {
        for (const std::string& file : TStringList(FFilesRecvList)) {
            const std::size_t dot = file.rfind('.');
            const std::size_t slash = file.find_last_of("/\\");
            if (dot == std::string::npos || (slash != std::string::npos && dot < slash) ||
                qm::LowerAscii(file.substr(dot)) != ".zip")
                continue;
            if (!UnzipFile(file)) {
                ErrorMsg = qm::Format("Błąd dekompresji pliku: %s", file);
                Raise(OnExecScriptError, *this);
                return false;
            }
        }
    }
    Raise(OnExecScriptEnd, *this);
    return true;
}

bool TQmHttpUpdate::ExecStdCmd(const std::string& cmd, const TStringList& params, const std::string& line,
                               bool& vError) {
    const TStandardCmdDef* def = nullptr;
    for (const TStandardCmdDef& d : kStandardCmds)
        if (cmd == d.Name)
            def = &d;
    if (!def)
        return false;
    const int count = static_cast<int>(params.size());
    if ((def->Min != -1 && count < def->Min) || (def->Max != -1 && count > def->Max)) {
        Raise(OnStdCmdParamsError, *this, cmd, params, line);
        return false;
    }
    if (cmd == "lastversion") {
        LastVersion = params[0];
        IsLastVersion = AppVersion() == LastVersion;
        Raise(OnStdCmd_LastVersion, *this, vError);
    } else if (cmd == "sourceurl") {
        FSourceUrl = params[0];
        Raise(OnStdCmd_SourceUrl, *this, vError);
    } else if (cmd == "msg") {
        const std::string msg = LineMessage(line);
        AddToLog(msg, updLogStdCmdMsg);
        Raise(OnStdCmd_Msg, *this, vError, msg);
    } else if (cmd == "msgfile") {
        StdCmdMsgFile(params[0], vError);
    } else if (cmd == "file") {
        StdCmdFile(params, vError);
    } else if (cmd == "error") {
        vError = true;
        Raise(OnStdCmd_Error, *this, vError, params.empty() ? std::string() : LineMessage(line));
    }
    return true;
}

void TQmHttpUpdate::StdCmdMsgFile(const std::string& url, bool& vError) {
    FFileNameToRecv.clear();
    std::string buffer;
    const bool ok = GetStream(
        url,
        [&buffer](std::string_view data) {
            buffer.append(data);
            return true;
        },
        [&buffer] {
            buffer.clear();
            return true;
        },
        vError);
    if (ok)
        Raise(OnStdCmd_MsgFile, *this, vError, buffer);
}

void TQmHttpUpdate::StdCmdFile(const TStringList& params, bool& vError) {
    const std::string name = params.size() >= 2 ? params[1] : qm::UrlDocument(params[0]);
    // Whatever the server names, the file lands in the receiving folder and nowhere else.
    if (const std::string why = qm::UnsafeLocalName(name); !why.empty()) {
        ErrorMsg = qm::Format("Niedozwolona nazwa pliku \"%s\": %s", name, why);
        AddToLog(ErrorMsg, updLogRecvFiles);
        vError = true;
        return;
    }
    FFileNameToRecv = FFilesToRecvDir + name;
    try {
        const std::unique_ptr<IDownloadFile> file = FFiles.CreateInFolder(FFilesToRecvDir, name);
        IDownloadFile& target = *file;
        GetStream(
            params[0], [&target](std::string_view data) { return target.Write(data); },
            [&target] { return target.Reset(); }, vError);
        if (!file->Close() && !vError) {
            ErrorMsg = qm::Format("Błąd zapisu pliku %s", FFileNameToRecv);
            vError = true;
        }
        if (!vError) {
            FFilesRecvList.push_back(FFileNameToRecv);
            Raise(OnStdCmd_File, *this, vError, FFileNameToRecv);
        }
    } catch (const std::exception& e) {
        if (ErrorMsg.empty())
            ErrorMsg = e.what();
        AddToLog(e.what(), updLogRecvFiles);
        vError = true;
    }
}

bool TQmHttpUpdate::UnzipFile(const std::string& fileName) {
    Raise(OnUnzipBegin, *this, fileName);
    AddToLog(qm::Format("Rozpakowywanie pliku %s", fileName), updLogUnzip);
    try {
        const TUnzipResult result = FFiles.Unzip(fileName, FUnzipDir, UnzipPassword, TUnzipLimits{});
        for (const std::string& skipped : result.Skipped)
            AddToLog(qm::Format("Pominięto dowiązanie symboliczne %s", skipped), updLogUnzip);
        AddToLog(qm::Format("Rozpakowano plików: %u", result.Extracted.size()), updLogUnzip);
        Raise(OnUnzipEnd, *this, fileName, result.Extracted);
        return true;
    } catch (const std::exception& e) {
        AddToLog(qm::Format("Błąd dekompresji pliku %s: %s", fileName, std::string(e.what())), updLogUnzip);
        Raise(OnUnzipError, *this, fileName);
        return false;
    }
}
