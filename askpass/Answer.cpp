#include "Answer.h"

#include <QStringEncoder>

#include <cerrno>
#include <unistd.h>
#include <vector>

namespace {
// Volatile, so that the compiler cannot drop stores to memory that is about to be freed.
void wipe(void *data, size_t size) {
    volatile unsigned char *byte = static_cast<volatile unsigned char *>(data);
    while (size--)
        *byte++ = 0;
}

bool writeAll(int fd, const char *data, size_t size) {
    while (size > 0) {
        const ssize_t written = ::write(fd, data, size);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return false;
        data += written;
        size -= size_t(written);
    }
    return true;
}
} // namespace

bool writeAnswerAndWipe(QString &answer) {
    // One buffer of our own, sized once, written with write(2): no stdio buffer, no
    // reallocation leaves a copy behind.
    QStringEncoder encoder(QStringEncoder::Utf8);
    std::vector<char> encoded(size_t(encoder.requiredSpace(answer.size())) + 1);
    char *end = encoder.appendToBuffer(encoded.data(), answer);
    *end++ = '\n';
    const bool written = writeAll(STDOUT_FILENO, encoded.data(), size_t(end - encoded.data()));

    wipe(encoded.data(), encoded.size());
    if (!answer.isEmpty() && answer.isDetached())
        wipe(answer.data(), size_t(answer.size()) * sizeof(QChar));
    answer.clear();
    return written;
}
