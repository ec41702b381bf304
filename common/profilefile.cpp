#include "common/profilefile.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/file.h>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>
#include <utility>
#include <vector>

namespace vx {
namespace {

namespace fs = std::filesystem;

// Only the start of a line is ever examined; the rest of an over-long line is copied or skipped unread.
constexpr std::size_t kMaxHead = 4096;
// A read gives up after this much of the file: real settings files are a few hundred bytes.
constexpr std::size_t kReadLimit = 1 << 20;

struct Line {
    std::string head;    // the line's first bytes, without the line break
    bool longer = false; // the line goes on beyond head
    bool broken = false; // the line ended with a line break
};

class LineReader {
public:
    // Reads no more than budget bytes: beyond it the input looks as if it ended.
    LineReader(std::streambuf* sb, std::size_t budget) : sb_(sb), budget_(budget) {}

    // Reads the next line's head; the caller then calls finish() to skip or copy the rest.
    bool next(Line& line) {
        line.head.clear();
        line.longer = line.broken = false;
        if (consumed_ >= budget_) return false;
        int c = sb_->sgetc();
        if (c == EOF) return false;
        while (consumed_ < budget_ && (c = sb_->sbumpc()) != EOF) {
            ++consumed_;
            if (c == '\n') {
                line.broken = true;
                return true;
            }
            line.head.push_back(static_cast<char>(c));
            if (line.head.size() == kMaxHead) {
                line.longer = sb_->sgetc() != EOF && sb_->sgetc() != '\n';
                if (!line.longer && sb_->sgetc() == '\n') {
                    sb_->sbumpc();
                    ++consumed_;
                    line.broken = true;
                }
                return true;
            }
        }
        return true;
    }

    // Passes the rest of an over-long line to out (or drops it when out is null); returns whether the
    // line ended with a line break.
    bool finish(std::ostream* out) {
        int c;
        while (consumed_ < budget_ && (c = sb_->sbumpc()) != EOF) {
            ++consumed_;
            if (out) out->put(static_cast<char>(c));
            if (c == '\n') return true;
        }
        return false;
    }

    std::size_t consumed() const { return consumed_; }
    bool exhausted() const { return consumed_ >= budget_; }

private:
    std::streambuf* sb_;
    std::size_t budget_;
    std::size_t consumed_ = 0;
};

char lower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool sameName(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (lower(a[i]) != lower(b[i])) return false;
    return true;
}

std::string_view trim(std::string_view s) {
    const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r'; };
    while (!s.empty() && blank(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && blank(s.back()))
        s.remove_suffix(1);
    return s;
}

// "[name]" gives name; anything else is not a section line.
bool sectionName(std::string_view line, std::string_view* name) {
    line = trim(line);
    if (line.empty() || line.front() != '[') return false;
    const auto close = line.find(']');
    if (close == std::string_view::npos) return false;
    *name = trim(line.substr(1, close - 1));
    return true;
}

// "key=value" gives key and value; comment lines and lines without '=' give nothing.
bool keyLine(std::string_view line, std::string_view* key, std::string_view* value) {
    const auto t = trim(line);
    if (t.empty() || t.front() == ';') return false;
    const auto eq = line.find('=');
    if (eq == std::string_view::npos) return false;
    *key = trim(line.substr(0, eq));
    *value = trim(line.substr(eq + 1));
    return true;
}

std::string cleanName(std::string_view s) {
    std::string out;
    for (char c : s)
        if (static_cast<unsigned char>(c) >= 0x20 && c != '=' && c != '[' && c != ']') out.push_back(c);
    return std::string(trim(out));
}

std::string cleanValue(std::string_view s) {
    std::string out(s);
    for (char& c : out)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) c = ' ';
    return out;
}

// Only a regular file is a settings file: opening a pipe waits for a writer and a device may never end.
bool isRegularFile(const fs::file_status& st) {
    return st.type() == fs::file_type::regular;
}

// The mode a new file would get: umask(2) can only be read by setting it, which races with other
// threads, so the kernel's note of it is read instead; without it, private to the user.
mode_t newFileMode() {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("Umask:", 0) == 0)
            return 0666 & ~static_cast<mode_t>(std::stoul(line.substr(6), nullptr, 8));
    return 0600;
}

} // namespace

namespace {

std::string readValue(const std::string& path, std::string_view section, std::string_view key,
                      std::string_view defaultValue) {
    std::error_code ec;
    if (!isRegularFile(fs::status(path, ec))) return std::string(defaultValue);
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::string(defaultValue);
    LineReader reader(in.rdbuf(), kReadLimit + 1);
    Line line;
    bool inSection = false;
    while (reader.next(line)) {
        if (line.longer) reader.finish(nullptr);
        // A line cut by the budget is not read as a whole one.
        if (reader.exhausted()) break;
        std::string_view name, k, v;
        // An over-long line is no section header, for writing neither.
        if (!line.longer && sectionName(line.head, &name)) {
            inSection = sameName(name, section);
        } else if (inSection && keyLine(line.head, &k, &v) && sameName(k, key)) {
            // A value cut at the head limit is not a value anybody wrote on purpose.
            if (line.longer) return std::string(defaultValue);
            if (v.size() >= 2 && v.front() == '"' && v.back() == '"') v = v.substr(1, v.size() - 2);
            return std::string(v);
        }
    }
    return std::string(defaultValue);
}

// A linked settings file is updated where it lives, also when the link points at a file not made yet;
// replacing the link would cut it loose. False for a chain of links that never ends.
bool resolveLink(const std::string& path, std::string* target) {
    fs::path p = path;
    for (int hops = 0; hops < 40; ++hops) {
        std::error_code ec;
        if (!fs::is_symlink(fs::symlink_status(p, ec))) {
            *target = p.string(); // whatever it is, if anything: the write looks at it next
            return true;
        }
        const fs::path next = fs::read_symlink(p, ec);
        if (ec) return false;
        p = next.is_absolute() ? next : p.parent_path() / next;
    }
    return false;
}

// The whole file, if it is one this program can rewrite without losing anything: no bigger than a read
// takes in (keys beyond that were never read, so a value written now could be an uninformed default),
// and plain 8-bit text (a NUL byte means UTF-16 or binary, which lines of ours would only spoil).
bool wholeText(const std::string& path, std::string* text) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    char chunk[16384];
    while (text->size() <= kReadLimit) {
        in.read(chunk, sizeof chunk);
        text->append(chunk, static_cast<std::size_t>(in.gcount()));
        if (!in) break;
    }
    return !in.bad() && text->size() <= kReadLimit && text->find('\0') == std::string::npos;
}

// Puts key=value into the section in text, creating either as needed; every other line stays as it was.
std::string withEntry(const std::string& text, const std::string& sec, const std::string& k,
                      std::string_view value) {
    const std::string entry = k + "=" + cleanValue(value);
    std::ostringstream out;
    std::istringstream in(text);
    std::string eol = "\n";
    bool eolKnown = false;
    bool inSection = false, written = false, lastBroken = true;
    std::vector<std::string> blanks; // blank lines at the end of the target section, held back
    const auto flushBlanks = [&] {
        for (const auto& b : blanks)
            out << b << '\n';
        blanks.clear();
    };
    const auto putEntry = [&] {
        if (!lastBroken) out << eol;
        out << entry << eol;
        written = lastBroken = true;
    };

    LineReader reader(in.rdbuf(), text.size());
    Line line;
    while (reader.next(line)) {
        if (!eolKnown && line.broken) {
            eol = (!line.head.empty() && line.head.back() == '\r') ? "\r\n" : "\n";
            eolKnown = true;
        }
        std::string_view name, lk, lv;
        const bool isSection = !line.longer && sectionName(line.head, &name);
        if (isSection) {
            if (inSection && !written) putEntry();
            flushBlanks();
            inSection = sameName(name, sec);
        } else if (inSection && !written && trim(line.head).empty() && line.broken) {
            blanks.push_back(line.head);
            continue;
        } else if (inSection && !written && keyLine(line.head, &lk, &lv) && sameName(lk, k)) {
            flushBlanks();
            if (line.longer) reader.finish(nullptr);
            const bool cr = line.broken && !line.head.empty() && line.head.back() == '\r';
            out << entry << (line.broken || line.longer ? (cr ? "\r\n" : "\n") : "");
            written = true;
            lastBroken = line.broken || line.longer;
            continue;
        } else {
            flushBlanks();
        }
        out << line.head;
        lastBroken = line.broken;
        if (line.longer) {
            lastBroken = reader.finish(&out);
        } else if (line.broken) {
            out << '\n';
        }
    }
    if (!written) {
        if (!inSection) {
            flushBlanks();
            if (!lastBroken) out << eol;
            out << '[' << sec << ']' << eol;
            lastBroken = true;
        }
        putEntry();
        flushBlanks();
    }
    return std::move(out).str();
}

bool writeAll(int fd, const std::string& text) {
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            if (n == 0) errno = ENOSPC;
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

// Closes a descriptor when leaving the scope.
struct Fd {
    int fd = -1;
    ~Fd() {
        if (fd >= 0) ::close(fd);
    }
};

int writeValues(const std::string& path, const std::vector<ProfileEntry>& entries) {
    const fs::path target(path);
    const std::string folder = target.has_parent_path() ? target.parent_path().string() : std::string(".");
    // Two instances saving at once take turns: the folder is locked from the read to the rename, so
    // neither loses the other's lines.
    Fd dir{::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)};
    if (dir.fd < 0) return errno;
    while (::flock(dir.fd, LOCK_EX) != 0)
        if (errno != EINTR) return errno;

    struct stat st {};
    const bool exists = ::stat(path.c_str(), &st) == 0;
    if (!exists && errno != ENOENT) return errno;
    if (exists && !S_ISREG(st.st_mode)) return EINVAL;
    // A file made read-only keeps its contents, as the classic call leaves it.
    if (exists && ((st.st_mode & 0222) == 0 || ::access(path.c_str(), W_OK) != 0)) return EACCES;

    // A file that cannot be read whole or understood is left exactly as it is.
    std::string text;
    if (exists && !wholeText(path, &text)) return EILSEQ;
    for (const ProfileEntry& e : entries) {
        const std::string sec = cleanName(e.section), k = cleanName(e.key);
        if (sec.empty() || k.empty()) return EINVAL;
        text = withEntry(text, sec, k, e.value);
    }

    // A name nobody else can have made, created here: a link planted in the folder is never followed.
    std::string tmp = path + ".XXXXXX";
    Fd out{::mkstemp(tmp.data())};
    if (out.fd < 0) return errno;
    ::fcntl(out.fd, F_SETFD, FD_CLOEXEC);
    const auto failed = [&tmp](int error) {
        ::unlink(tmp.c_str());
        return error;
    };
    // The new file is the old one's in owner and mode; one that cannot be kept so is not written.
    const mode_t mode = exists ? (st.st_mode & 07777) : newFileMode();
    if (exists && (st.st_uid != ::geteuid() || st.st_gid != ::getegid()) &&
        ::fchown(out.fd, st.st_uid, st.st_gid) != 0)
        return failed(errno);
    if (::fchmod(out.fd, mode) != 0) return failed(errno);
    if (!writeAll(out.fd, text) || ::fsync(out.fd) != 0) return failed(errno);
    if (::close(std::exchange(out.fd, -1)) != 0) return failed(errno);
    if (::rename(tmp.c_str(), path.c_str()) != 0) return failed(errno);
    // The rename itself is on the disk only once the folder is.
    if (::fsync(dir.fd) != 0 && errno != EINVAL) return errno;
    return 0;
}

} // namespace

std::string readProfileString(const std::string& path, std::string_view section, std::string_view key,
                              std::string_view defaultValue) {
    try {
        return readValue(path, section, key, defaultValue);
    } catch (const std::exception&) {
        // The stream library reports some read errors (a folder, an I/O error) by throwing.
        return std::string(defaultValue);
    }
}

int writeProfileStrings(const std::string& path, const std::vector<ProfileEntry>& entries) {
    std::string target;
    if (!resolveLink(path, &target)) return ELOOP;
    try {
        return writeValues(target, entries);
    } catch (const std::exception&) {
        return EIO;
    }
}

bool writeProfileString(const std::string& path, std::string_view section, std::string_view key,
                        std::string_view value) {
    return writeProfileStrings(path, {{std::string(section), std::string(key), std::string(value)}}) == 0;
}

} // namespace vx
