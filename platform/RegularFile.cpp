#include "platform/RegularFile.h"

#include <cerrno>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

int OpenRegularFile(const char *pszPath, bool *pbNotRegular)
{
    *pbNotRegular = false;
    struct stat st = {};
    if (::stat(pszPath, &st) != 0)
        return -1;
    if (!S_ISREG(st.st_mode)) {
        *pbNotRegular = true;
        return -1;
    }
    const int fd = ::open(pszPath, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return -1;
    const int nFlags = ::fcntl(fd, F_GETFL);
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && nFlags >= 0 &&
        ::fcntl(fd, F_SETFL, nFlags & ~O_NONBLOCK) == 0)
        return fd;
    const int nError = errno;
    *pbNotRegular = !S_ISREG(st.st_mode);
    ::close(fd);
    errno = nError;
    return -1;
}
