#include "publish/record_delivery.h"

#include <fcntl.h>
#include <openssl/evp.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>

#include "collect/task_db.h"
#include "engine/field_rule.h"
#include "platform/file_read.h"
#include "platform/run_log.h"
#include "platform/sqlite_db.h"

namespace tarvex::publish {
namespace {

bool writeAll(int fd, const std::string& text) {
    for (std::size_t done = 0; done < text.size();) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

}  // namespace

std::string RecordKey(std::int64_t taskId, const std::string& recordUrl, const std::string& siteMark) {
    // Fields joined with a byte no address or mark contains, so no two inputs give one text.
    const std::string text = std::to_string(taskId) + '\x1F' + recordUrl + '\x1F' + siteMark;
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int len = 0;
    if (EVP_Digest(text.data(), text.size(), digest, &len, EVP_sha256(), nullptr) != 1) return {};
    static const char* hex = "0123456789abcdef";
    std::string out;
    for (unsigned int i = 0; i < 16 && i < len; ++i) {
        out += hex[digest[i] >> 4];
        out += hex[digest[i] & 15];
    }
    return out;
}

std::string PendingSuccessPath(const std::string& dbPath) {
    return dbPath + ".published";
}

bool RememberPendingSuccess(const std::string& dbPath, const std::string& flag, std::int64_t id,
                            const std::string& recordKey, std::string& error) {
    const std::string path = PendingSuccessPath(dbPath);
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd < 0) {
        error = std::strerror(errno);
        return false;
    }
    const bool ok = writeAll(fd, flag + "\t" + std::to_string(id) + "\t" + recordKey + "\n") && ::fsync(fd) == 0;
    if (!ok) error = std::strerror(errno);
    ::close(fd);
    return ok;
}

namespace {

struct PendingLine {
    std::string flag;
    std::int64_t id = 0;
    std::string key;
    std::string text;
};

std::vector<PendingLine> readPendingLines(const std::string& dbPath) {
    std::vector<PendingLine> out;
    std::ifstream in(PendingSuccessPath(dbPath), std::ios::binary);
    for (std::string line; std::getline(in, line);) {
        const std::size_t tab = line.find('\t');
        const std::size_t tab2 = tab == std::string::npos ? tab : line.find('\t', tab + 1);
        if (tab2 == std::string::npos) continue;  // a line cut short by a full disk
        auto id = engine::ParseInteger(line.substr(tab + 1, tab2 - tab - 1));
        if (!id || *id <= 0) continue;
        out.push_back({line.substr(0, tab), *id, line.substr(tab2 + 1), line});
    }
    return out;
}

}  // namespace

std::set<std::pair<std::string, std::int64_t>> ReadPendingSuccesses(const std::string& dbPath) {
    std::set<std::pair<std::string, std::int64_t>> out;
    for (const auto& l : readPendingLines(dbPath)) out.emplace(l.flag, l.id);
    return out;
}

std::set<std::pair<std::string, std::int64_t>> ApplyPendingSuccesses(
    const std::string& dbPath,
    const std::function<bool(const std::string& flag, std::int64_t id, const std::string& recordKey)>& settle) {
    std::set<std::pair<std::string, std::int64_t>> left;
    const std::string path = PendingSuccessPath(dbPath);
    if (!platform::isRegularFile(path)) return left;
    std::string text;
    for (const auto& l : readPendingLines(dbPath)) {
        if (settle(l.flag, l.id, l.key)) continue;
        left.emplace(l.flag, l.id);
        text += l.text + "\n";
    }
    if (left.empty()) {
        std::remove(path.c_str());
        return left;
    }
    // The rest is written to a new file that then takes the old one's place, so a failure
    // half-way never loses a success.
    const std::string temp = path + ".new";
    const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    const bool ok = fd >= 0 && writeAll(fd, text) && ::fsync(fd) == 0;
    if (fd >= 0) ::close(fd);
    if (!ok || std::rename(temp.c_str(), path.c_str()) != 0) std::remove(temp.c_str());
    return left;
}

std::vector<Attachment> RecordAttachments(const std::string& dbPath, std::int64_t recordId, bool notUploadedOnly) {
    std::vector<Attachment> out;
    try {
        auto t = collect::query(dbPath,
                                std::string("select localurl,newurl from download where cid=?") +
                                    (notUploadedOnly ? " and isupload=0" : "") + " order by id",
                                {platform::SqlValue::of(recordId)});
        for (std::size_t r = 0; r < t.rows.size(); ++r) {
            const std::string local = t.text(r, "localurl");
            if (local.empty() || !platform::isRegularFile(local)) continue;
            out.push_back({local, t.text(r, "newurl")});
        }
    } catch (const std::exception& e) {
        platform::WriteLog(std::string("TMyThread:查询download表出错：") + e.what(), 0);
    }
    return out;
}

std::string MarkUploaded(const std::string& dbPath, std::mutex* lock, std::int64_t recordId,
                         const std::vector<Attachment>& files) {
    if (files.empty()) return {};
    std::unique_lock<std::mutex> held;
    if (lock) held = std::unique_lock<std::mutex>(*lock);
    try {
        platform::SqliteConnection db(dbPath);
        platform::SqliteTransaction tx(db);
        platform::SqliteStatement st(db, "update download set isupload=1 where cid=? and localurl=?");
        for (const auto& f : files) {
            st.bind(1, recordId).bind(2, f.localPath);
            st.run();
            st.reset();
        }
        tx.commit();
        return {};
    } catch (const std::exception& e) {
        return e.what();
    }
}

}  // namespace tarvex::publish
