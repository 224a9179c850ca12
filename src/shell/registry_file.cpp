// Built where there is no Windows registry (see CMakeLists.txt).
#include "shell/registry_file.h"

#include "core/systemerror.h"
#include "platform/codepage.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <filesystem>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace Inkwell {

namespace {

const std::u16string kRootPath = u"HKEY_CLASSES_ROOT";

std::u16string fromUtf8(const std::string &s)
{
    return CodePage::decode(s, 65001).text;
}

std::string ansiZ(const std::u16string &text)
{
    return CodePage::encode(text, CodePage::systemAnsi()).bytes + '\0';
}

// The key's position in the tree; -2 for the root when it has no entry of
// its own (it always exists), -1 when the key does not exist.
long findKey(const std::vector<RegKeyNode> &tree, const std::u16string &path)
{
    const auto folded = RegFileFormat::fold(path);
    for (std::size_t i = 0; i < tree.size(); ++i)
        if (RegFileFormat::fold(tree[i].path) == folded)
            return long(i);
    return folded == RegFileFormat::fold(kRootPath) ? -2 : -1;
}

bool writeAll(int fd, const std::string &bytes)
{
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += std::size_t(n);
    }
    return true;
}

} // namespace

// Holds the lock file for the length of one call, so that the file read at
// the start of a change is still the file that the change replaces.
class FileRegistry::Session {
public:
    explicit Session(const std::string &directory)
    {
        std::error_code ignored;
        std::filesystem::create_directories(directory, ignored);
        m_fd = ::open((directory + "/registry.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        if (m_fd >= 0) {
            while (::flock(m_fd, LOCK_EX) != 0 && errno == EINTR) {
            }
        }
    }
    ~Session()
    {
        if (m_fd >= 0)
            ::close(m_fd); // closing releases the lock
    }
    Session(const Session &) = delete;
    Session &operator=(const Session &) = delete;

private:
    int m_fd = -1;
};

FileRegistry::FileRegistry(std::string directory) : m_directory(std::move(directory)) {}

std::string FileRegistry::defaultDirectory()
{
    const char *config = std::getenv("XDG_CONFIG_HOME");
    if (config && *config == '/')
        return std::string(config) + "/inkwell";
    const char *home = std::getenv("HOME");
    return std::string(home ? home : "") + "/.config/inkwell";
}

std::string FileRegistry::filePath() const
{
    return m_directory + "/registry.reg";
}

std::vector<RegKeyNode> FileRegistry::freshKeys()
{
    return {
        {u"HKEY_CLASSES_ROOT\\.txt",
         {{u"", RegType::Sz, ansiZ(u"txtfile")},
          {u"Content Type", RegType::Sz, ansiZ(u"text/plain")},
          {u"PerceivedType", RegType::Sz, ansiZ(u"text")}}},
        {u"HKEY_CLASSES_ROOT\\txtfile", {{u"", RegType::Sz, ansiZ(u"Text Document")}}},
        {u"HKEY_CLASSES_ROOT\\txtfile\\DefaultIcon",
         {{u"", RegType::ExpandSz, ansiZ(u"%SystemRoot%\\system32\\imageres.dll,-102")}}},
        {u"HKEY_CLASSES_ROOT\\txtfile\\shell", {}},
        {u"HKEY_CLASSES_ROOT\\txtfile\\shell\\open", {}},
        {u"HKEY_CLASSES_ROOT\\txtfile\\shell\\open\\command",
         {{u"", RegType::ExpandSz, ansiZ(u"%SystemRoot%\\system32\\NOTEPAD.EXE %1")}}},
    };
}

long FileRegistry::load(Tree *tree)
{
    const std::string path = filePath();
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        if (errno != ENOENT)
            return RegCode::CannotRead;
        *tree = freshKeys();
        return RegCode::Success;
    }
    std::string bytes;
    char buffer[8192];
    ssize_t n = 0;
    while ((n = ::read(fd, buffer, sizeof buffer)) != 0) {
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            ::close(fd);
            return RegCode::CannotRead;
        }
        bytes.append(buffer, std::size_t(n));
    }
    ::close(fd);

    RegFileFormat::Parsed parsed = RegFileFormat::parse(bytes);
    if (parsed.ok) {
        *tree = std::move(parsed.keys);
        return RegCode::Success;
    }

    // Keep the damaged file for whoever wants to repair it; the next call
    // starts from a fresh registry.
    char stamp[32];
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &local);
    std::string aside = path + ".damaged-" + stamp;
    for (int i = 2; std::filesystem::exists(aside); ++i)
        aside = path + ".damaged-" + stamp + "-" + std::to_string(i);
    const bool moved = std::rename(path.c_str(), aside.c_str()) == 0;
    m_damageReport = u"注册表文件 " + fromUtf8(path) + u" 已损坏（第 " +
                     fromUtf8(std::to_string(parsed.errorLine)) + u" 行：" +
                     fromUtf8(parsed.error) + u"）";
    m_damageReport += moved ? u"，已改名保存为 " + fromUtf8(aside) + u"。"
                            : u"，无法改名：" + reasonFor(errno).toStdU16String() + u"。";
    return RegCode::BadDatabase;
}

long FileRegistry::save(const Tree &tree)
{
    const std::string path = filePath();
    std::string temp = path + ".XXXXXX";
    const int fd = ::mkstemp(temp.data());
    if (fd < 0)
        return RegCode::CannotWrite;
    ::fchmod(fd, 0600);
    const bool written = writeAll(fd, RegFileFormat::write(tree)) && ::fsync(fd) == 0;
    const bool closed = ::close(fd) == 0;
    if (!written || !closed || std::rename(temp.c_str(), path.c_str()) != 0) {
        ::unlink(temp.c_str());
        return RegCode::CannotWrite;
    }
    // The rename itself reaches the disk only with the directory.
    const int dir = ::open(m_directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
    return RegCode::Success;
}

long FileRegistry::resolve(RegKey key, const Tree &tree, std::u16string *path) const
{
    if (key == HKEY_CLASSES_ROOT_KEY) {
        *path = kRootPath;
        return RegCode::Success;
    }
    const auto it = m_handles.find(key);
    if (it == m_handles.end())
        return RegCode::InvalidHandle;
    if (findKey(tree, it->second) == -1)
        return RegCode::KeyDeleted;
    *path = it->second;
    return RegCode::Success;
}

long FileRegistry::loadAndResolve(RegKey key, Tree *tree, std::u16string *path)
{
    if (const long rc = load(tree); rc != RegCode::Success)
        return rc;
    return resolve(key, *tree, path);
}

RegKey FileRegistry::newHandle(const std::u16string &path)
{
    const RegKey handle = m_nextHandle;
    m_nextHandle += 4;
    m_handles[handle] = path;
    return handle;
}

long FileRegistry::openOrCreate(RegKey parent, const std::u16string &subPath, bool create,
                                RegKey *result)
{
    if (!result)
        return RegCode::InvalidParameter;
    *result = 0;
    if (parent == 0)
        return RegCode::InvalidHandle;
    // A path that starts with, ends with or doubles a backslash names no key.
    if (!subPath.empty() && (subPath.front() == u'\\' || subPath.back() == u'\\' ||
                             subPath.find(u"\\\\") != std::u16string::npos))
        return RegCode::BadPathName;

    Session session(m_directory);
    Tree tree;
    std::u16string path;
    if (const long rc = loadAndResolve(parent, &tree, &path); rc != RegCode::Success)
        return rc;
    if (subPath.empty()) {
        *result = newHandle(path);
        return RegCode::Success;
    }

    bool changed = false;
    std::size_t start = 0;
    while (start <= subPath.size()) {
        auto end = subPath.find(u'\\', start);
        if (end == std::u16string::npos)
            end = subPath.size();
        const std::u16string child = path + u"\\" + subPath.substr(start, end - start);
        const long found = findKey(tree, child);
        if (found >= 0) {
            path = tree[std::size_t(found)].path; // keep the case it was created with
        } else {
            if (!create)
                return RegCode::FileNotFound;
            tree.push_back({child, {}});
            path = child;
            changed = true;
        }
        start = end + 1;
    }
    if (changed) {
        if (const long rc = save(tree); rc != RegCode::Success)
            return rc;
    }
    *result = newHandle(path);
    return RegCode::Success;
}

long FileRegistry::createKey(RegKey parent, const std::u16string &subKey, RegKey *result)
{
    return openOrCreate(parent, subKey, true, result);
}

long FileRegistry::openKey(RegKey parent, const std::u16string &subPath, RegKey *result)
{
    return openOrCreate(parent, subPath, false, result);
}

long FileRegistry::setValue(RegKey key, const std::u16string &name, std::uint32_t type,
                            const char *data, std::uint32_t size)
{
    if (key == 0)
        return RegCode::InvalidHandle;
    if (!data && size > 0)
        return RegCode::InvalidParameter;
    Session session(m_directory);
    Tree tree;
    std::u16string path;
    if (const long rc = loadAndResolve(key, &tree, &path); rc != RegCode::Success)
        return rc;
    long index = findKey(tree, path);
    if (index == -2) { // values on the root itself get an entry of their own
        tree.push_back({kRootPath, {}});
        index = long(tree.size() - 1);
    }
    RegValue value{name, type, data ? std::string(data, size) : std::string()};
    auto &values = tree[std::size_t(index)].values;
    bool replaced = false;
    for (auto &v : values) {
        if (RegFileFormat::fold(v.name) == RegFileFormat::fold(name)) {
            value.name = v.name;
            v = value;
            replaced = true;
        }
    }
    if (!replaced)
        values.push_back(value);
    return save(tree);
}

long FileRegistry::queryValue(RegKey key, const std::u16string &name, std::uint32_t *type,
                              char *data, std::uint32_t *size)
{
    if (key == 0)
        return RegCode::InvalidHandle;
    if (data && !size)
        return RegCode::InvalidParameter;
    Session session(m_directory);
    Tree tree;
    std::u16string path;
    if (const long rc = loadAndResolve(key, &tree, &path); rc != RegCode::Success)
        return rc;
    const long index = findKey(tree, path);
    if (index < 0)
        return RegCode::FileNotFound;
    for (const auto &v : tree[std::size_t(index)].values) {
        if (RegFileFormat::fold(v.name) != RegFileFormat::fold(name))
            continue;
        const auto needed = static_cast<std::uint32_t>(v.data.size());
        if (type)
            *type = v.type;
        if (!data) {
            if (size)
                *size = needed;
            return RegCode::Success;
        }
        const bool fits = *size >= needed;
        *size = needed;
        if (!fits)
            return RegCode::MoreData;
        std::memcpy(data, v.data.data(), needed);
        return RegCode::Success;
    }
    return RegCode::FileNotFound;
}

long FileRegistry::closeKey(RegKey key)
{
    if (key == HKEY_CLASSES_ROOT_KEY)
        return RegCode::Success;
    return m_handles.erase(key) ? RegCode::Success : RegCode::InvalidHandle;
}

std::u16string FileRegistry::takeStorageProblem()
{
    std::u16string problem = m_damageReport;
    m_damageReport.clear();
    return problem;
}

std::u16string FileRegistry::describe(long code) const
{
    switch (code) {
    case RegCode::Success:
        return u"操作成功完成。";
    case RegCode::FileNotFound:
        return u"系统找不到指定的注册表项或值。";
    case RegCode::InvalidHandle:
        return u"注册表项句柄无效。";
    case RegCode::BadPathName:
        return u"注册表项的路径无效。";
    case RegCode::MoreData:
        return u"缓冲区太小，放不下注册表值。";
    case RegCode::BadDatabase:
        return m_damageReport.empty() ? u"注册表文件已损坏。" : m_damageReport;
    case RegCode::CannotRead:
        return u"无法读取注册表文件 " + fromUtf8(filePath()) + u"。";
    case RegCode::CannotWrite:
        return u"无法写入注册表文件 " + fromUtf8(filePath()) + u"。";
    case RegCode::KeyDeleted:
        return u"注册表项已被删除。";
    default:
        return u"注册表操作失败，错误代码 " + fromUtf8(std::to_string(code)) + u"。";
    }
}

std::unique_ptr<Registry> makeSystemRegistry()
{
    return std::make_unique<FileRegistry>(FileRegistry::defaultDirectory());
}

} // namespace Inkwell
