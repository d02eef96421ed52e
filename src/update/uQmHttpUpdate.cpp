#include "update/uQmHttpUpdate.h"

#include "platform/uPathDelim.h"
#include "util/libStrUtilsQmPack.h"
#include "util/uFormat.h"
#include "util/uQmError.h"

namespace qm {

std::string DeriveSourceUrl(const std::string& url, bool& hasHost) {
    const std::size_t schemeEnd = url.find("://");
    hasHost = schemeEnd != std::string::npos;
    if (!hasHost)
        return {};
    const std::size_t hostStart = schemeEnd + 3;
    std::size_t hostEnd = url.find('/', hostStart);
    std::string host =
        url.substr(hostStart, (hostEnd == std::string::npos ? url.size() : hostEnd) - hostStart);
    // User name and password are not carried over. The port is: a bare name must reach the server
    // that answered, also when it listens on a port of its own.
    if (const std::size_t at = host.rfind('@'); at != std::string::npos)
        host.erase(0, at + 1);
    std::string path = "/";
    if (hostEnd != std::string::npos) {
        const std::string rest = url.substr(hostEnd + 1);
        std::size_t stop = rest.find('?');
        if (stop == std::string::npos)
            stop = rest.find('=');
        const std::size_t slash = stop == std::string::npos ? rest.rfind('/')
                                  : stop == 0               ? std::string::npos
                                                            : rest.rfind('/', stop - 1);
        if (slash != std::string::npos)
            path += rest.substr(0, slash + 1);
    }
    return url.substr(0, schemeEnd) + "://" + host + path;
}

std::string UrlDocument(const std::string& url) {
    std::string doc = url.substr(0, url.find_first_of("?#"));
    const std::size_t slash = doc.rfind('/');
    return slash == std::string::npos ? doc : doc.substr(slash + 1);
}

std::string UnsafeLocalName(const std::string& name) {
    if (name.empty())
        return "pusta nazwa";
    if (name == "." || name == "..")
        return "nazwa katalogu";
    for (const char c : name) {
        if (c == '/' || c == '\\')
            return "nazwa zawiera ścieżkę";
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
            return "nazwa zawiera znak sterujący";
        if (c == ':')
            return "nazwa zawiera dysk lub strumień";
    }
    // The device names of Windows, with or without an extension, are refused on every system so
    // that one server answer behaves alike everywhere.
    std::string stem = UpperAscii(name.substr(0, name.find('.')));
    while (!stem.empty() && stem.back() == ' ')
        stem.pop_back();
    static const char* const kDevices[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"};
    for (const char* d : kDevices)
        if (stem == d)
            return "nazwa urządzenia";
    if (stem.size() == 4 && (stem.starts_with("COM") || stem.starts_with("LPT")) && stem[3] >= '0' &&
        stem[3] <= '9')
        return "nazwa urządzenia";
    return {};
}

std::string ListValue(const TStringList& list, const std::string& name) {
    for (const std::string& entry : list) {
        const std::size_t eq = entry.find('=');
        const std::string entryName = eq == std::string::npos ? std::string() : entry.substr(0, eq);
        if (entryName == name)
            return eq == std::string::npos ? std::string() : entry.substr(eq + 1);
    }
    return {};
}

} // namespace qm

namespace {

std::string EntryName(const std::string& entry) {
    const std::size_t eq = entry.find('=');
    return eq == std::string::npos ? std::string() : entry.substr(0, eq);
}

bool HasDirectory(const std::string& path) {
    return path.find_first_of("/\\:") != std::string::npos;
}

template <class E, class... A> void Raise(const E& event, A&&... args) {
    if (event)
        event(std::forward<A>(args)...);
}

} // namespace

TQmHttpUpdate::TQmHttpUpdate(const TQmHttpUpdateContext& context)
    : FHttp(context.Http), FFiles(context.Files), FImage(context.Image), FSystemInfo(context.SystemInfo) {
    const std::string here = std::string(".") + qm::PathDelim;
    FFilesToSendDir = FFilesToRecvDir = FUnzipDir = here;
    FHttp.SetMaxBodyBytes(kMaxDownloadBytes);
    SetAntiFreeze(true);
    FHttp.OnWorkBegin = [this](THttpDirection direction, std::int64_t total) {
        if (direction == hdSend)
            Raise(OnHttpSendBegin, *this, total);
        else if (!FPosting)
            Raise(OnHttpRecvBegin, *this, total);
    };
    FHttp.OnWork = [this](THttpDirection direction, std::int64_t done) {
        if (direction == hdSend)
            Raise(OnHttpSend, *this, done);
        else if (!FPosting)
            Raise(OnHttpRecv, *this, done);
    };
    FHttp.OnWorkEnd = [this](THttpDirection direction) {
        if (direction == hdSend)
            Raise(OnHttpSendEnd, *this);
        else if (!FPosting)
            Raise(OnHttpRecvEnd, *this);
    };
}

TQmHttpUpdate::~TQmHttpUpdate() {
    Abort();
    FHttp.OnWorkBegin = nullptr;
    FHttp.OnWork = nullptr;
    FHttp.OnWorkEnd = nullptr;
}

std::string TQmHttpUpdate::AppVersion() const {
    if (!AppVersionFromResource)
        return FAppVersion;
    try {
        return FImage.FileVersion();
    } catch (const EQmError&) {
        return {};
    }
}

void TQmHttpUpdate::SetAppVersion(const std::string& value) {
    if (!AppVersionFromResource)
        FAppVersion = value;
}

void TQmHttpUpdate::SetAntiFreeze(bool value) {
    FAntiFreeze = value;
    FHttp.SetKeepResponsive(value);
}

void TQmHttpUpdate::SetFilesToSendDir(const std::string& value) {
    FFilesToSendDir = qm::IncludeTrailingPathDelimiter(value);
}
void TQmHttpUpdate::SetFilesToRecvDir(const std::string& value) {
    FFilesToRecvDir = qm::IncludeTrailingPathDelimiter(value);
}
void TQmHttpUpdate::SetUnzipDir(const std::string& value) {
    FUnzipDir = qm::IncludeTrailingPathDelimiter(value);
}

void TQmHttpUpdate::AddToLog(const std::string& text, TQmHttpUpdateLogOption category) {
    if ((LogOptions & OptionBit(category)) && OnAddToLog)
        OnAddToLog(*this, text);
}

bool TQmHttpUpdate::Update() {
    FMode = umMode_Update;
    AddToLog("Pobieranie plików aktualizacji", updLogUpdate);
    const bool ok = RunRequest(URLToUpdate, OnUpdateBegin, OnUpdateEnd, OnUpdateError);
    if (ok)
        AddToLog("Pobieranie plików aktualizacji zakończone", updLogUpdate);
    else if (FAborted)
        AddToLog("Aktualizacja przerwana przez użytkownika", updLogUpdate);
    else
        AddToLog(qm::Format("Aktualizacja zakończona niepowodzeniem. Kod błędu: %s", ErrorMsg), updLogUpdate);
    return ok;
}

bool TQmHttpUpdate::CheckVersion() {
    FMode = umMode_CheckVersion;
    return RunRequest(URLToCheckVersion, OnCheckVersionBegin, OnCheckVersionEnd, OnCheckVersionError);
}

void TQmHttpUpdate::Abort() {
    FAborted = true;
    FHttp.Abort();
}

bool TQmHttpUpdate::RunRequest(const std::string& url, const TNotifyEvent& begin, const TNotifyEvent& end,
                               const TNotifyEvent& error) {
    FAborted = false;
    FPosting = true;
    FFilesRecv = 0;
    FFilesToRecv = 0;
    FFilesRecvList.clear();
    bool hasHost = false;
    std::string source = qm::DeriveSourceUrl(url, hasHost);
    if (hasHost)
        FSourceUrl = std::move(source);
    Raise(begin, *this);
    bool ok = false;
    {
        const std::vector<THttpFormPart> form = BuildRequest();
        if (PostData(url, form)) {
            FPosting = false;
            ok = ExecScript();
        }
    }
    FPosting = false;
    Raise(ok ? end : error, *this);
    return ok;
}

std::vector<THttpFormPart> TQmHttpUpdate::BuildRequest() const {
    std::vector<THttpFormPart> form;
    auto field = [&form](std::string name, std::string value) {
        form.push_back({std::move(name), std::move(value), {}, {}});
    };
    if (ParamsOptions & OptionBit(updSendAppName))
        field("appname", AppName);
    if (ParamsOptions & OptionBit(updSendAppVersion))
        field("appversion", AppVersion());
    const std::uint8_t systemOptions = OptionBit(updSendCpuInfo) | OptionBit(updSendWinVer) |
                                       OptionBit(updSendSysVolSerialNo) | OptionBit(updSendBiosDate);
    if ((ParamsOptions & systemOptions) != 0) {
        const TUpdateSystemInfo info = FSystemInfo ? FSystemInfo->Read() : TUpdateSystemInfo{};
        if (ParamsOptions & OptionBit(updSendCpuInfo)) {
            field("cpumanufacture", info.CpuManufacture.substr(0, 10));
            field("cpuname", info.CpuName.substr(0, 48));
            field("cpufreq", info.CpuFreq.empty() ? "0" : info.CpuFreq);
        }
        if (ParamsOptions & OptionBit(updSendWinVer)) {
            field("winver", info.WinVer);
            field("winverno", info.WinVerNo);
            field("wintype", info.WinType);
        }
        if (ParamsOptions & OptionBit(updSendSysVolSerialNo)) {
            field("sysvol", info.SysVol);
            field("sysvolserialno", info.SysVolSerialNo);
        }
        if (ParamsOptions & OptionBit(updSendBiosDate))
            field("biosdate", info.BiosDate);
    }
    for (const std::string& entry : FParams) {
        const std::string name = EntryName(entry);
        field(name, qm::ListValue(FParams, name));
    }
    for (const std::string& entry : FFilesToSend) {
        const std::string name = EntryName(entry);
        std::string path = qm::ListValue(FFilesToSend, name);
        if (!HasDirectory(path))
            path = FFilesToSendDir + path;
        form.push_back({name, {}, path, "binary-data"});
    }
    return form;
}

bool TQmHttpUpdate::PostData(const std::string& url, const std::vector<THttpFormPart>& form) {
    FRetryCnt = 1;
    ErrorMsg.clear();
    FReply.clear();
    AddToLog("Łączenie z serwerem", updLogPostData);
    Raise(OnPostDataBegin, *this);
    for (;;) {
        try {
            const std::string body = FHttp.PostForm(url, form);
            FReply = qm::SplitLines(body);
            ErrorMsg.clear();
            Raise(OnPostDataEnd, *this);
            AddToLog("Połączono z serwerem", updLogPostData);
            return true;
        } catch (const std::exception& e) {
            ErrorMsg = e.what();
        }
        ++FRetryCnt;
        if (FAborted || FRetryCnt > MaxRetries) {
            Raise(OnPostDataError, *this);
            AddToLog(qm::Format("Błąd połączenia z serwerem. Kod błędu: %s", ErrorMsg), updLogPostData);
            return false;
        }
        Raise(OnPostDataRetry, *this, FRetryCnt);
        AddToLog(qm::Format("Ponowne łączenie z serwerem (próba %d z %d). Poprzednia próba zakończyła się "
                            "błędem: %s",
                            FRetryCnt, MaxRetries, ErrorMsg),
                 updLogPostData);
    }
}

bool TQmHttpUpdate::GetStream(const std::string& url, const THttpSink& sink,
                              const std::function<bool()>& reset, bool& vError) {
    FRetryCnt = 1;
    ErrorMsg.clear();
    AddToLog(qm::Format("Pobieranie pliku %d z %d", FFilesRecv + 1, FFilesToRecv), updLogRecvFiles);
    Raise(OnGetStreamBegin, *this);
    const std::string fullUrl = url.find("://") == std::string::npos ? FSourceUrl + url : url;
    for (;;) {
        try {
            // An earlier attempt may have written part of the data.
            if (!reset())
                throw EQmError("Nie można opróżnić pliku docelowego");
            FHttp.Get(fullUrl, {"Content-Type: text/html"}, sink);
            ErrorMsg.clear();
            ++FFilesRecv;
            Raise(OnGetStreamEnd, *this);
            AddToLog("Pobieranie pliku zakończone", updLogRecvFiles);
            return true;
        } catch (const std::exception& e) {
            ErrorMsg = e.what();
        }
        ++FRetryCnt;
        if (FAborted || FRetryCnt > MaxRetries) {
            AddToLog(qm::Format("Błąd pobrania pliku. Kod błędu: %s", ErrorMsg), updLogRecvFiles);
            Raise(OnGetStreamError, *this);
            vError = true;
            return false;
        }
        AddToLog(
            qm::Format("Ponowne pobieranie pliku (próba %d z %d). Poprzednia próba zakończyła się błędem: %s",
                       FRetryCnt, MaxRetries, ErrorMsg),
            updLogRecvFiles);
        Raise(OnGetStreamRetry, *this, FRetryCnt);
    }
}
