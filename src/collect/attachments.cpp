#include "collect/attachments.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>
#include <optional>

#include "collect/attachment_paths.h"
#include "collect/attachment_safety.h"
#include "collect/http_fetch.h"
#include "collect/task_db.h"
#include "engine/template_lang.h"
#include "engine/url_utils.h"
#include "platform/file_read.h"
#include "platform/http_client.h"
#include "platform/regex.h"
#include "platform/run_log.h"
#include "platform/utf8.h"

namespace tarvex::collect {

using platform::WriteLog;

namespace {

// Image tags: the address ends at a quote or a blank, or (when addresses may hold blanks) at
// a quote only.
constexpr const char* kImagePattern = R"(<img(?<imgbehind>[^>]*?)src\s*=\s*["|']?(?<fileurl>[^ ]*?)["|'| ])";
constexpr const char* kImagePatternBlanks = R"(<img(?<imgbehind>[^>]*?)src\s*=\s*["|']?(?<fileurl>.*?)["|'])";
constexpr const char* kCountToken = "{dd:自增id}";
constexpr std::size_t kMaxRemoteLength = 500;
constexpr int kImageTimeoutMs = 20000;
constexpr int kFileTimeoutMs = 40000;
// Direct attachments are streamed to disk, so they may be larger than an image.
constexpr std::size_t kMaxFileBytes = 2ull * 1024 * 1024 * 1024;
// How many numbered variants of a taken name are tried before the file is given up.
constexpr int kMaxNameVariants = 100;

std::string folderOf(const std::string& path) {
    std::size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? std::string(".") : path.substr(0, slash);
}

// Local paths used by the records of this process, with the address each is for, so two
// records never put different files under one name, and one lock per path so two workers
// fetching the same address do not write (or watermark) the same file at once.
class PathReservations {
public:
    static PathReservations& instance() {
        static PathReservations r;
        return r;
    }
    // The path's write lock when the path was free or is used for the same address; null
    // when another address has it.
    std::shared_ptr<std::mutex> reserve(const std::string& path, const std::string& remote) {
        std::lock_guard<std::mutex> g(m_lock);
        auto it = m_paths.find(path);
        if (it == m_paths.end()) it = m_paths.emplace(path, Entry{remote, 0, std::make_shared<std::mutex>()}).first;
        if (it->second.remote != remote) return nullptr;
        ++it->second.users;
        return it->second.writing;
    }
    void release(const std::string& path) {
        std::lock_guard<std::mutex> g(m_lock);
        auto it = m_paths.find(path);
        if (it != m_paths.end() && --it->second.users == 0) m_paths.erase(it);
    }

private:
    struct Entry {
        std::string remote;
        int users = 0;
        std::shared_ptr<std::mutex> writing;
    };
    std::mutex m_lock;
    std::map<std::string, Entry> m_paths;
};

}  // namespace

// A local file chosen for one remote address, its name held until the record is stored.
class Placement {
public:
    Placement(std::string local, std::string newName, std::shared_ptr<std::mutex> writing)
        : m_local(std::move(local)), m_newName(std::move(newName)), m_writing(std::move(writing)) {}
    Placement(const Placement&) = delete;
    Placement& operator=(const Placement&) = delete;
    ~Placement() { PathReservations::instance().release(m_local); }

    const std::string& local() const { return m_local; }
    const std::string& newName() const { return m_newName; }
    // Held while the file is written, so one worker at a time fetches and marks it.
    std::mutex& writing() { return *m_writing; }
    // The file is there and recorded for the same address: no download needed.
    bool reuse = false;

private:
    std::string m_local, m_newName;
    std::shared_ptr<std::mutex> m_writing;
};

struct RecordFilesAccess {
    static void addStatement(RecordFiles& files, BoundSql statement) {
        files.m_statements.push_back(std::move(statement));
    }
    static void hold(RecordFiles& files, std::unique_ptr<Placement> held) { files.m_held.push_back(std::move(held)); }
    // A file of the record: its row, its name held, and its address remembered for its field.
    static void addFile(RecordFiles& files, std::unique_ptr<Placement> held, const std::string& field,
                        const std::string& remote, BoundSql statement) {
        files.m_had.emplace(std::make_pair(field, remote), std::make_pair(held->local(), held->newName()));
        files.m_localOf.emplace(held->local(), remote);
        files.m_files.push_back({held->local(), held->newName(), false});
        addStatement(files, std::move(statement));
        hold(files, std::move(held));
    }
    static void addThumbnail(RecordFiles& files, const std::string& local, const std::string& newUrl) {
        files.m_files.push_back({local, newUrl, true});
    }
    static const std::pair<std::string, std::string>* had(const RecordFiles& files, const std::string& field,
                                                          const std::string& remote) {
        auto it = files.m_had.find(std::make_pair(field, remote));
        return it == files.m_had.end() ? nullptr : &it->second;
    }
    // Whether an earlier field of the record already wrote `local` for `remote`.
    static bool holdsFile(const RecordFiles& files, const std::string& local, const std::string& remote) {
        auto it = files.m_localOf.find(local);
        return it != files.m_localOf.end() && it->second == remote;
    }
};

RecordFiles::RecordFiles() = default;
RecordFiles::~RecordFiles() = default;

std::string RecordFiles::store(const AttachmentJob& job) const {
    if (m_statements.empty()) return {};
    std::unique_lock<std::mutex> lock;
    if (job.dbLock) lock = std::unique_lock<std::mutex>(*job.dbLock);
    try {
        platform::SqliteConnection db(job.dbPath, platform::SqliteConnection::Mode::ReadWrite);
        platform::SqliteTransaction tx(db);
        for (const auto& b : m_statements) runBound(db, b);
        tx.commit();
        return {};
    } catch (const std::exception& e) {
        return e.what();
    }
}

namespace {

// The local file for `remote`: the planned path, or a numbered variant of it when the planned
// file belongs to another address (recorded in `download`, or used by another record right
// now). An existing file is reused only when its `download` row names the same address; a file
// that no row names is overwritten by the new download. With `mayReuse` false the file is
// always made anew.
std::unique_ptr<Placement> placeFile(const std::string& dbPath, const std::string& local, const std::string& newName,
                                     const std::string& remote, bool mayReuse) {
    auto& reservations = PathReservations::instance();
    for (int n = 1; n <= kMaxNameVariants; ++n) {
        const std::string path = n == 1 ? local : WithNumberSuffix(local, n);
        const std::string name = n == 1 ? newName : WithNumberSuffix(newName, n);
        auto writing = reservations.reserve(path, remote);
        if (!writing) continue;
        auto held = std::make_unique<Placement>(path, name, std::move(writing));
        bool sameAddress = false, otherAddress = false;
        try {
            auto owners =
                query(dbPath, "select remoteurl from download where localurl=?", {platform::SqlValue::of(path)});
            for (std::size_t r = 0; r < owners.rows.size(); ++r) {
                if (owners.text(r, "remoteurl") == remote)
                    sameAddress = true;
                else
                    otherAddress = true;
            }
        } catch (const std::exception& e) {
            // Without the records, only a name no file has yet is safe.
            WriteLog("TGetThread:读取download表出错：" + std::string(e.what()), 0);
            otherAddress = platform::isRegularFile(path);
        }
        if (otherAddress) continue;
        held->reuse = mayReuse && sameAddress && platform::isRegularFile(path);
        return held;
    }
    return nullptr;
}

struct FetchedFile {
    bool ok = false;
    bool cancelled = false;
    bool writeFailed = false;  // the fault is here (disk, folder), not at the site
    std::string error;
};

std::string systemError(int code) {
    return std::strerror(code);
}

// One download, no retry: the body goes to a temporary file beside the target, which takes
// the target's name only after a complete 2xx answer.
FetchedFile fetchToFile(const std::string& remote, const std::string& local, const std::string& referer,
                        const std::string& cookie, int timeoutMs, std::size_t maxBytes,
                        const std::function<bool()>& cancelled) {
    FetchedFile out;
    if (cancelled && cancelled()) {
        out.cancelled = true;
        out.error = "Transfer cancelled";
        return out;
    }
    if (!MakeFolders(folderOf(local))) {
        out.writeFailed = true;
        out.error = "无法创建文件夹：" + folderOf(local) + "(" + systemError(errno) + ")";
        return out;
    }
    std::string temp = local + ".part.XXXXXX";
    int fd = ::mkstemp(temp.data());
    if (fd < 0) {
        out.writeFailed = true;
        out.error = "无法创建文件：" + local + "(" + systemError(errno) + ")";
        return out;
    }
    FetchSpecialHosts special = GetFetchSpecialHosts();
    auto matches = [&](const std::string& host) { return !host.empty() && remote.find(host) != std::string::npos; };

    platform::HttpRequest req;
    req.url = DownloadAddress(remote);
    req.userAgent = kDefaultUserAgent;
    if (!referer.empty()) req.referer = referer;
    req.cookie = cookie;
    req.connectTimeoutMs = timeoutMs;
    req.idleTimeoutMs = timeoutMs;
    req.totalTimeoutMs = FetchDeadlineMs(timeoutMs);
    req.maxBodyBytes = maxBytes;
    req.tls.verifyPeer = false;
    if (matches(special.tlsHost)) req.tls.version = platform::TlsVersion::Tls11;
    for (const auto& h : special.gzipHosts)
        if (matches(h)) req.acceptCompressed = true;
    req.cancelled = cancelled;
    int writeErrno = 0;
    req.bodySink = [fd, &writeErrno](std::string_view bytes) {
        while (!bytes.empty()) {
            ssize_t n = ::write(fd, bytes.data(), bytes.size());
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) {
                writeErrno = n < 0 ? errno : ENOSPC;
                return false;
            }
            bytes.remove_prefix(static_cast<std::size_t>(n));
        }
        return true;
    };
    platform::HttpResponse res = platform::httpPerform(req);
    // Some file systems tell of a full disk only when the file is closed.
    if (::close(fd) != 0 && !writeErrno) writeErrno = errno;
    if (writeErrno || !res.ok()) {
        ::unlink(temp.c_str());
        out.cancelled = !writeErrno && res.error == platform::HttpError::Cancelled;
        out.writeFailed = writeErrno != 0;
        out.error = writeErrno ? "写入文件失败：" + local + "(" + systemError(writeErrno) + ")" : res.failureText();
        return out;
    }
    ::chmod(temp.c_str(), 0644);
    if (std::rename(temp.c_str(), local.c_str()) != 0) {
        const int code = errno;
        ::unlink(temp.c_str());
        out.writeFailed = true;
        out.error = "无法保存文件：" + local + "(" + systemError(code) + ")";
        return out;
    }
    out.ok = true;
    return out;
}

// The folder part of the local path: "file_save"[2] picks a date folder or the typed template.
std::string folderPart(const AttachmentJob& job, const engine::FieldRule& rule, const std::string& choice,
                       const std::string& remote, const engine::FieldValueList& values) {
    const auto now = engine::ToLocalDateTime(job.clock->now());
    if (choice == "1") return engine::FormatDateTime("yyyy-mm-dd", now);
    if (choice == "2") return engine::FormatDateTime("yyyymmdd", now);
    if (choice == "-1") {
        std::string diy = engine::ExpandFieldRefs(engine::JsonText(rule.json, "file_save_diy"), values);
        return engine::ExpandTokens(diy, remote, *job.clock, *job.random);
    }
    return {};
}

// The new name: field references, the source file name and the text tokens filled in.
std::string newNameFor(const AttachmentJob& job, const std::string& tmpl, const std::string& remote,
                       const engine::FieldValueList& values) {
    std::string name = engine::ExpandFieldRefs(tmpl, values);
    engine::ReplaceAllInPlace(name, "{dd:原文件名}", LastPathPart(remote));
    return engine::ExpandTokens(name, remote, *job.clock, *job.random);
}

bool sameHost(const std::string& a, const std::string& b) {
    std::string ha = platform::utf8::lowerAscii(engine::UrlHost(a));
    return !ha.empty() && ha == platform::utf8::lowerAscii(engine::UrlHost(b));
}

// Fetches (or reuses) the file for `remote` under its write lock; true when the file is
// there afterwards. `fresh` tells whether it was fetched now.
bool haveFile(const AttachmentJob& job, Placement& placed, const std::string& remote, const std::string& referer,
              const std::string& cookie, bool direct, AttachmentOutcome& outcome, bool& fresh) {
    fresh = false;
    if (placed.reuse) return platform::isRegularFile(placed.local());
    if (job.label) job.label("下载附件：" + remote);
    if (direct)
        WriteLog("TGetThread:直接附件下载remoteurl：" + remote, 0);
    else
        WriteLog("TGetThread:开始下载附件：" + remote, 0);
    auto got = fetchToFile(remote, placed.local(), referer, cookie, direct ? kFileTimeoutMs : kImageTimeoutMs,
                           direct ? kMaxFileBytes : platform::kMaxImageFileBytes, job.cancelled);
    if (!direct) WriteLog("TGetThread:下载附件结束：" + remote, 0);
    if (!got.ok)
        WriteLog((direct ? "GetThread:直接附件下载有错，错误码" : "GetThread:图片下载有错，错误码") + got.error + "\r",
                 0);
    if (got.cancelled) outcome.cancelled = true;
    if (got.writeFailed && outcome.writeError.empty()) outcome.writeError = got.error;
    fresh = got.ok;
    // A file that was already at the name but is recorded for no address is not this one: only
    // a complete download counts.
    return got.ok && platform::isRegularFile(placed.local());
}

// A name that would give a local file an executable extension: logged and refused (the value
// keeps the remote address).
bool refusedName(const std::string& newName) {
    const std::string why = UnsafeFileName(LastPathPart(newName));
    if (why.empty()) return false;
    WriteLog("TGetThread:附件文件名不安全，不下载：" + why, 0);
    return true;
}

// Whether an image attachment's bytes are an image; a fresh download that is none (an error
// page, a script) is removed again.
bool isImageFile(const Placement& placed, const std::string& remote, bool fresh) {
    if (!ImageFormatOf(placed.local()).empty()) return true;
    WriteLog("TGetThread:下载的文件不是图片，不作为图片保存：" + remote, 0);
    if (fresh) ::unlink(placed.local().c_str());
    return false;
}

void imagesInText(const AttachmentJob& job, const engine::FieldRule& rule, const std::vector<std::string>& fileSave,
                  std::string& value, const engine::FieldValueList& values, RecordFiles& files,
                  AttachmentOutcome& outcome) {
    const bool blanks = engine::JsonFlag(rule.json, "pic_blank_check");
    const std::string referer = engine::JsonFlag(rule.json, "pic_referer_check") ? job.pageUrl : std::string();
    const ImageSettings images = ImageSettings::read(rule.json);
    const std::string base = AttachmentFolder(job.savePath, job.programFolder, job.taskId);
    const std::string& nameTemplate = fileSave[1];
    const bool counting = nameTemplate.find(kCountToken) != std::string::npos;
    std::optional<std::string> countedName;
    int counter = 1;

    // Matches are taken from the value as it was before any rewrite.
    const std::string original = value;
    auto found = platform::regexAll(blanks ? kImagePatternBlanks : kImagePattern, platform::kSearchOptions, original);
    if (found.error) WriteLog("TGetThread:downpic正则错误：" + *found.error, 0);
    for (const auto& m : found.matches) {
        if (job.cancelled && job.cancelled()) {
            outcome.cancelled = true;
            break;
        }
        const std::string remote = engine::AbsoluteUrl(engine::TrimText(m.named("fileurl")), job.pageUrl);
        WriteLog("TGetThread:downpic获取remoteurl：" + remote, 0);
        if (remote.empty() || remote.size() > kMaxRemoteLength) continue;

        std::string newName;
        if (counting) {
            if (!countedName) countedName = newNameFor(job, nameTemplate, remote, values);
            newName = engine::ReplaceAll(*countedName, kCountToken, std::to_string(counter));
        } else {
            newName = newNameFor(job, nameTemplate, remote, values);
        }
        // An address this field already has: its file and row once more, nothing fetched.
        if (const auto* had = RecordFilesAccess::had(files, rule.title, remote); had && !counting) {
            WriteLog("TGetThread:插入download表：" + sql::InsertDownload(job.rowId, remote, had->first, had->second),
                     0);
            RecordFilesAccess::addStatement(files,
                                            sql::InsertDownloadBound(job.rowId, remote, had->first, had->second));
            ++outcome.stored;
            engine::ReplaceAllInPlace(value, m.group(), "<img src=\"" + had->second + "\"");
            continue;
        }
        if (refusedName(newName)) {
            ++outcome.failed;
            continue;
        }
        const std::string folder = folderPart(job, rule, fileSave[2], remote, values);
        auto local = AttachmentPath(base, folder, newName);
        if (!local) {
            WriteLog("TGetThread:附件文件名无效，跳过：" + newName, 0);
            ++outcome.failed;
            continue;
        }
        auto placed = placeFile(job.dbPath, *local, newName, remote, true);
        if (!placed) {
            WriteLog("TGetThread:附件文件名已被占用，跳过：" + *local, 0);
            ++outcome.failed;
            continue;
        }
        // An earlier field that names the file the same way has written it already.
        if (RecordFilesAccess::holdsFile(files, placed->local(), remote)) placed->reuse = true;
        {
            std::lock_guard<std::mutex> writing(placed->writing());
            bool fresh = false;
            if (!haveFile(job, *placed, remote, referer, {}, false, outcome, fresh)) {
                WriteLog("TGetThread:本地无图片，跳过\r", 0);
                ++outcome.failed;
                continue;
            }
            if (!isImageFile(*placed, remote, fresh)) {
                ++outcome.failed;
                continue;
            }
            // Only a fresh download is marked: a reused file carries its mark already.
            if (fresh) {
                if (auto error = watermarkImage(images, placed->local(), job.programFolder, job.imageOps))
                    WriteLog("TGetThread:图片水印 缩略图出错：" + *error + "\r", 0);
            }
        }
        WriteLog(
            "TGetThread:插入download表：" + sql::InsertDownload(job.rowId, remote, placed->local(), placed->newName()),
            0);
        auto insert = sql::InsertDownloadBound(job.rowId, remote, placed->local(), placed->newName());
        const std::string newUrl = placed->newName();
        const std::string imagePath = placed->local();
        RecordFilesAccess::addFile(files, std::move(placed), rule.title, remote, std::move(insert));

        if (!files.hasThumbnail && images.thumbnail) {
            std::string error;
            auto plan = planThumbnail(images, imagePath, error, *job.clock, *job.random);
            std::unique_ptr<Placement> thumbPlace;
            if (plan) {
                thumbPlace = placeFile(job.dbPath, plan->path, plan->address, remote, false);
                if (!thumbPlace) error = "缩略图文件名已被占用：" + plan->path;
            }
            if (thumbPlace) {
                plan->path = thumbPlace->local();
                plan->address = thumbPlace->newName();
                std::lock_guard<std::mutex> writing(thumbPlace->writing());
                if (auto failed = makeThumbnail(images, imagePath, *plan, job.imageOps)) {
                    error = *failed;
                } else {
                    files.hasThumbnail = true;
                    WriteLog("TGetThread:插入download表：缩略图" +
                                 sql::InsertDownload(job.rowId, remote, plan->path, plan->address, true),
                             0);
                    RecordFilesAccess::addStatement(
                        files, sql::InsertDownloadBound(job.rowId, remote, plan->path, plan->address, true));
                    RecordFilesAccess::addThumbnail(files, plan->path, plan->address);
                }
            }
            if (thumbPlace && files.hasThumbnail) RecordFilesAccess::hold(files, std::move(thumbPlace));
            if (!error.empty()) WriteLog("TGetThread:图片水印 缩略图出错：" + error + "\r", 0);
        }
        ++outcome.stored;
        if (counting) ++counter;
        engine::ReplaceAllInPlace(value, m.group(), "<img src=\"" + newUrl + "\"");
    }
}

void directFile(const AttachmentJob& job, const engine::FieldRule& rule, const std::vector<std::string>& fileSave,
                std::string& value, const engine::FieldValueList& values, RecordFiles& files,
                AttachmentOutcome& outcome) {
    const std::string trimmed = engine::TrimText(value);
    if (trimmed.empty()) return;
    const std::string remote = engine::AbsoluteUrl(trimmed, job.pageUrl);
    const std::string referer = engine::JsonFlag(rule.json, "pic_referer_check") ? job.pageUrl : std::string();
    const std::string base = AttachmentFolder(job.savePath, job.programFolder, job.taskId);
    const std::string newName = newNameFor(job, fileSave[1], remote, values);
    const std::string folder = folderPart(job, rule, fileSave[2], remote, values);
    if (refusedName(newName)) {
        ++outcome.failed;
        return;
    }
    value = newName;
    auto local = AttachmentPath(base, folder, newName);
    std::unique_ptr<Placement> placed;
    if (local && !remote.empty()) placed = placeFile(job.dbPath, *local, newName, remote, true);
    if (!placed) {
        WriteLog("TGetThread:直链附件文件名无效或已被占用，跳过：" + newName, 0);
        ++outcome.failed;
        return;
    }
    value = placed->newName();
    if (RecordFilesAccess::holdsFile(files, placed->local(), remote)) placed->reuse = true;
    // The login cookie belongs to the site being collected, not to any host a page links.
    const std::string cookie = sameHost(remote, job.pageUrl) ? job.cookie : std::string();
    bool fresh = false;
    bool there = false;
    {
        std::lock_guard<std::mutex> writing(placed->writing());
        there = haveFile(job, *placed, remote, referer, cookie, true, outcome, fresh);
    }
    if (!there) {
        WriteLog("TGetThread:直链本地无图片，跳过\r", 0);
        ++outcome.failed;
        return;
    }
    WriteLog(
        "TGetThread:直链插入download表：" + sql::InsertDownload(job.rowId, remote, placed->local(), placed->newName()),
        0);
    auto insert = sql::InsertDownloadBound(job.rowId, remote, placed->local(), placed->newName());
    RecordFilesAccess::addFile(files, std::move(placed), rule.title, remote, std::move(insert));
    ++outcome.stored;
}

bool isHex(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

}  // namespace

std::string DownloadAddress(const std::string& remote) {
    std::string out, piece;
    for (std::size_t i = 0; i < remote.size(); ++i) {
        if (remote[i] == '%' && i + 2 < remote.size() && isHex(remote[i + 1]) && isHex(remote[i + 2])) {
            out += UrlEncodeAll(piece, "UTF-8");
            piece.clear();
            out.append(remote, i, 3);
            i += 2;
        } else {
            piece += remote[i];
        }
    }
    return out + UrlEncodeAll(piece, "UTF-8");
}

AttachmentOutcome downloadAttachments(const AttachmentJob& job, const engine::FieldRule& rule, std::string& value,
                                      const engine::FieldValueList& fieldValues, RecordFiles& files) {
    AttachmentOutcome outcome;
    const auto fileSave = engine::JsonTextArray(rule.json, "file_save");
    if (fileSave.size() >= 3 && engine::FlagOn(fileSave[0]))
        imagesInText(job, rule, fileSave, value, fieldValues, files, outcome);
    else if (fileSave.size() == 4 && engine::FlagOn(fileSave[3]))
        directFile(job, rule, fileSave, value, fieldValues, files, outcome);
    if (!outcome.writeError.empty() && files.writeError.empty()) files.writeError = outcome.writeError;
    WriteLog("TGetThread:downpic执行结束\r\r", 0);
    return outcome;
}

}  // namespace tarvex::collect
