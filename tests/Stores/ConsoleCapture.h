#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QTemporaryFile>

#include <cstdio>
#include <unistd.h>

// Captures what the code under test prints on standard output, by pointing file descriptor 1
// at a temporary file for the capture's lifetime.
class ConsoleCapture final
{
public:
    ConsoleCapture()
    {
        std::fflush(stdout);
        m_file.open();
        m_saved = ::dup(STDOUT_FILENO);
        ::dup2(m_file.handle(), STDOUT_FILENO);
    }
    ~ConsoleCapture() { restore(); }
    ConsoleCapture(const ConsoleCapture &) = delete;
    ConsoleCapture &operator=(const ConsoleCapture &) = delete;

    QStringList lines()
    {
        restore();
        m_file.seek(0);
        const QString text = QString::fromUtf8(m_file.readAll());
        return text.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    }

private:
    void restore()
    {
        if (m_saved < 0)
            return;
        std::fflush(stdout);
        ::dup2(m_saved, STDOUT_FILENO);
        ::close(m_saved);
        m_saved = -1;
    }

    QTemporaryFile m_file;
    int m_saved = -1;
};
