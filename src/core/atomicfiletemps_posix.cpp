#include "core/atomicfiletemps.h"

#include <QRandomGenerator>

#include <algorithm>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace Inkwell::SaveTemps {

namespace {

constexpr std::string_view tempMark = ".inkwell-";

// A temporary file older than this, that no save holds, was left by a save
// that never finished (the program died between linking and renaming it).
constexpr time_t abandonedAfter = 60;

} // namespace

QByteArray hiddenName(const QByteArray &dir, const QByteArray &name)
{
    return dir + "/." + name + QByteArray(tempMark.data(), qsizetype(tempMark.size())) +
           QByteArray::number(QRandomGenerator::global()->generate(), 36);
}

bool isTempName(std::string_view name)
{
    const size_t mark = name.rfind(tempMark);
    if (name.size() < 2 || name[0] != '.' || mark == std::string_view::npos || mark < 2)
        return false;
    // The tag: the base-36 digits of a 32-bit number.
    const std::string_view tag = name.substr(mark + tempMark.size());
    return !tag.empty() && tag.size() <= 7 && std::all_of(tag.begin(), tag.end(), [](char c) {
        return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z');
    });
}

void removeAbandoned(const QByteArray &dir)
{
    DIR *listing = ::opendir(dir.constData());
    if (!listing)
        return;
    const int dirFd = ::dirfd(listing);
    const uid_t me = ::geteuid();
    const time_t now = ::time(nullptr);
    while (const dirent *entry = ::readdir(listing)) {
        if (!isTempName(entry->d_name))
            continue;
        // Opened to look at and lock what is there now, not what the name
        // meant a moment ago; a temporary file may be write-only.
        constexpr int flags = O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
        int fd = ::openat(dirFd, entry->d_name, O_RDONLY | flags);
        if (fd < 0)
            fd = ::openat(dirFd, entry->d_name, O_WRONLY | flags);
        if (fd < 0)
            continue;
        struct stat st {};
        // A save still under way in another window (a slow disk syncing a
        // big file) holds its lock: it is left alone.
        if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == me && st.st_nlink == 1 &&
            now - st.st_mtime >= abandonedAfter && ::flock(fd, LOCK_EX | LOCK_NB) == 0)
            ::unlinkat(dirFd, entry->d_name, 0);
        ::close(fd);
    }
    ::closedir(listing);
}

} // namespace Inkwell::SaveTemps
