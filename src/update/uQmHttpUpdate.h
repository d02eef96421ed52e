#pragma once
// TQmHttpUpdate: the update client. Posts a multipart form with the program's identity and the
// caller's parameters, runs the server's reply as a command script (lastversion, sourceurl, msg,
// msgfile, file, error, comments), downloads what it names into the receiving folder and unpacks
// received archives. Qt-free: the network goes through IHttpTransport, the files through IUpdateFiles.
//
// What arrives from the server is confined: a received file's local name must be a plain name in
// FilesToRecvDir, archive entries stay in UnzipDir, no symbolic link is created, downloads are
// bounded, and a reply whose status is not success is never run.
#include "platform/IHttpTransport.h"
#include "platform/IProgramImage.h"
#include "platform/ISystemInfo.h"
#include "platform/IUpdateFiles.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

enum TQmHttpUpdateMode { umMode_Unknown = 0, umMode_Update = 1, umMode_CheckVersion = 2 };
enum TQmHttpUpdateLogOption {
    updLogPostData = 0,
    updLogUpdate = 1,
    updLogUnzip = 2,
    updLogRecvFiles = 3,
    updLogStdCmdMsg = 4
};
enum TQmHttpUpdateParamsOption {
    updSendAppName = 0,
    updSendAppVersion = 1,
    updSendCpuInfo = 2,
    updSendWinVer = 3,
    updSendSysVolSerialNo = 4,
    updSendBiosDate = 5
};
// Sets of the options above: one bit per ordinal.
using TQmHttpUpdateLogOptions = std::uint8_t;
using TQmHttpUpdateParamsOptions = std::uint8_t;
constexpr std::uint8_t OptionBit(int ordinal) {
    return static_cast<std::uint8_t>(1u << ordinal);
}
constexpr TQmHttpUpdateLogOptions kAllLogOptions = 0x1F;

using TStringList = std::vector<std::string>;

class TQmHttpUpdate;
using TNotifyEvent = std::function<void(TQmHttpUpdate& sender)>;

struct TQmHttpUpdateContext {
    IHttpTransport& Http;
    IUpdateFiles& Files;
    const IProgramImage& Image;
    // Read once per request when one of its options is on; nullptr: every such field is empty.
    const ISystemInfo* SystemInfo = nullptr;
};

class TQmHttpUpdate {
public:
    // A received file above this size fails its download.
    static constexpr std::uint64_t kMaxDownloadBytes = 64ull * 1024 * 1024;

    explicit TQmHttpUpdate(const TQmHttpUpdateContext& context);
    virtual ~TQmHttpUpdate();
    TQmHttpUpdate(const TQmHttpUpdate&) = delete;
    TQmHttpUpdate& operator=(const TQmHttpUpdate&) = delete;

    virtual bool Update();
    virtual bool CheckVersion();
    void Abort();

    // Properties.
    std::string AppName;
    std::string AppVersion() const;
    void SetAppVersion(const std::string& value);
    bool AppVersionFromResource = true;
    bool AntiFreeze() const { return FAntiFreeze; }
    void SetAntiFreeze(bool value);
    bool Aborted() const { return FAborted; }
    char CmdDelimiter = ' ';
    std::string ErrorMsg;
    bool HandleStdCmd = true;
    std::string URLToCheckVersion;
    std::string URLToUpdate;
    std::string URLToRecv() const { return FHttp.LastUrl(); }
    const std::string& FileNameToRecv() const { return FFileNameToRecv; }
    const TStringList& FilesRecvList() const { return FFilesRecvList; }
    int FilesRecv() const { return FFilesRecv; }
    const TStringList& FilesToSend() const { return FFilesToSend; }
    void SetFilesToSend(const TStringList& value) { FFilesToSend = value; }
    const std::string& FilesToSendDir() const { return FFilesToSendDir; }
    void SetFilesToSendDir(const std::string& value);
    int FilesToRecv() const { return FFilesToRecv; }
    const std::string& FilesToRecvDir() const { return FFilesToRecvDir; }
    void SetFilesToRecvDir(const std::string& value);
    int MaxRetries = 3;
    int RetryCnt() const { return FRetryCnt; }
    TQmHttpUpdateMode Mode() const { return FMode; }
    TQmHttpUpdateLogOptions LogOptions = kAllLogOptions;
    const TStringList& Params() const { return FParams; }
    void SetParams(const TStringList& value) { FParams = value; }
    TQmHttpUpdateParamsOptions ParamsOptions = OptionBit(updSendAppName) | OptionBit(updSendAppVersion);
    std::string LastVersion;
    bool IsLastVersion = false;
    const std::string& UnzipDir() const { return FUnzipDir; }
    void SetUnzipDir(const std::string& value);
    bool UnzipFiles = true;
    std::string UnzipPassword;
    // TLS comes with the scheme ("https://") in this transport; the property is kept for callers.
    bool UseSSL = false;
    // The base that a URL without a host is appended to.
    const std::string& SourceUrl() const { return FSourceUrl; }
    IHttpTransport& Http() { return FHttp; }

    // Events.
    std::function<void(TQmHttpUpdate&, const std::string&)> OnAddToLog;
    TNotifyEvent OnCheckVersionBegin, OnCheckVersionEnd, OnCheckVersionError;
    TNotifyEvent OnUpdateBegin, OnUpdateEnd, OnUpdateError;
    TNotifyEvent OnExecScriptBegin, OnExecScriptEnd, OnExecScriptError;
    TNotifyEvent OnPostDataBegin, OnPostDataEnd, OnPostDataError;
    std::function<void(TQmHttpUpdate&, int)> OnPostDataRetry, OnGetStreamRetry;
    TNotifyEvent OnGetStreamBegin, OnGetStreamEnd, OnGetStreamError;
    std::function<void(TQmHttpUpdate&, std::int64_t)> OnHttpSendBegin, OnHttpRecvBegin;
    std::function<void(TQmHttpUpdate&, std::int64_t)> OnHttpSend, OnHttpRecv;
    TNotifyEvent OnHttpSendEnd, OnHttpRecvEnd;
    std::function<void(TQmHttpUpdate&, bool& VError, const std::string& cmd, const TStringList& params,
                       const std::string& line)>
        OnCmd;
    std::function<void(TQmHttpUpdate&, const std::string& cmd, const TStringList& params,
                       const std::string& line)>
        OnStdCmdParamsError;
    std::function<void(TQmHttpUpdate&, bool&VError)> OnStdCmd_LastVersion, OnStdCmd_SourceUrl;
    std::function<void(TQmHttpUpdate&, bool& VError, const std::string& msg)> OnStdCmd_Msg;
    std::function<void(TQmHttpUpdate&, bool& VError, const std::string& data)> OnStdCmd_MsgFile;
    std::function<void(TQmHttpUpdate&, bool& VError, const std::string& fileName)> OnStdCmd_File;
    std::function<void(TQmHttpUpdate&, bool& VError, const std::string& msg)> OnStdCmd_Error;
    std::function<void(TQmHttpUpdate&, const std::string&fileName)> OnUnzipBegin, OnUnzipError;
    std::function<void(TQmHttpUpdate&, const std::string& fileName, const TStringList& files)> OnUnzipEnd;

    // The extraction step of the extraction pass; false (with a log line) when it fails.
    bool UnzipFile(const std::string& fileName);

protected:
    void AddToLog(const std::string& text, TQmHttpUpdateLogOption category);

private:
    bool RunRequest(const std::string& url, const TNotifyEvent& begin, const TNotifyEvent& end,
                    const TNotifyEvent& error);
    std::vector<THttpFormPart> BuildRequest() const;
    bool PostData(const std::string& url, const std::vector<THttpFormPart>& form);
    bool ExecScript();
    bool ExecStdCmd(const std::string& cmd, const TStringList& params, const std::string& line, bool& vError);
    // One download; target is emptied before each attempt.
    bool GetStream(const std::string& url, const THttpSink& sink, const std::function<bool()>& reset,
                   bool& vError);
    void StdCmdMsgFile(const std::string& url, bool& vError);
    void StdCmdFile(const TStringList& params, bool& vError);
    std::string LineMessage(const std::string& line) const;

    IHttpTransport& FHttp;
    IUpdateFiles& FFiles;
    const IProgramImage& FImage;
    const ISystemInfo* FSystemInfo;
    std::string FAppVersion;
    bool FAntiFreeze = true;
    bool FAborted = false;
    bool FPosting = false;
    std::string FFileNameToRecv;
    TStringList FFilesRecvList;
    int FFilesRecv = 0;
    TStringList FFilesToSend;
    std::string FFilesToSendDir;
    int FFilesToRecv = 0;
    std::string FFilesToRecvDir;
    int FRetryCnt = 0;
    TQmHttpUpdateMode FMode = umMode_Unknown;
    TStringList FParams;
    std::string FUnzipDir;
    std::string FSourceUrl;
    TStringList FReply;
};

namespace qm {
// The directory part that a URL without a host is appended to (scheme://host/path/), or nothing
// when url has no host.
std::string DeriveSourceUrl(const std::string& url, bool& hasHost);
// The document of a URL: the part after its last "/", without query and fragment.
std::string UrlDocument(const std::string& url);
// Why name cannot be a received file's name in its folder, or the empty text when it can: empty,
// ".", "..", a path separator, a drive, a control character, or a device name.
std::string UnsafeLocalName(const std::string& name);
// The value of the first entry called name in a list of "name=value" entries.
std::string ListValue(const TStringList& list, const std::string& name);
} // namespace qm
