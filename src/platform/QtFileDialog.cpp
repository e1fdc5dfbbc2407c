#include "platform/QtFileDialog.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QRegularExpression>
#include <QThread>

#include <array>

namespace sonrigo {
namespace {

QString fromUtf8(std::string_view text)
{
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// A song is asked for with "*.mid"; the desktop's audio/midi type also names
// these, and the player reads them all.
constexpr std::array<const char*, 3> kMidiGlobs = {"*.mid", "*.midi", "*.kar"};

void addGlob(QStringList& globs, const QString& glob)
{
    if (!globs.contains(glob, Qt::CaseInsensitive))
        globs.append(glob);
}

}  // namespace

QStringList QtFileDialog::nameFilters(std::string_view filter)
{
    const QStringList parts = fromUtf8(filter).split(QLatin1Char('|'));
    QStringList filters;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        QStringList globs;
        for (const QString& glob : parts[i + 1].split(QRegularExpression(QStringLiteral("[; ]")), Qt::SkipEmptyParts)) {
            if (glob.compare(QLatin1String(kMidiGlobs[0]), Qt::CaseInsensitive) == 0) {
                for (const char* midiGlob : kMidiGlobs)
                    addGlob(globs, QLatin1String(midiGlob));
            } else {
                addGlob(globs, glob);
            }
        }
        if (!globs.isEmpty())
            filters.append(QStringLiteral("%1 (%2)").arg(parts[i].trimmed(), globs.join(QLatin1Char(' '))).trimmed());
    }
    return filters;
}

void QtFileDialog::prepare(QFileDialog& dialog, std::string_view defaultExtension, std::string_view filter,
                           std::string_view initialName)
{
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
    // Qt's own dialog matches the filters without regard to case, so that
    // SONG.MID shows beside song.mid; the GTK dialog's patterns do not.
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    const QStringList filters = nameFilters(filter);
    if (!filters.isEmpty())
        dialog.setNameFilters(filters);
    dialog.setDefaultSuffix(fromUtf8(defaultExtension));

    const QString initial = QFile::decodeName(QByteArray(initialName.data(), static_cast<qsizetype>(initialName.size())));
    const QFileInfo info(initial);
    if (initial.isEmpty()) {
        dialog.setDirectory(QDir::currentPath());
    } else if (info.isDir()) {
        dialog.setDirectory(info.absoluteFilePath());
    } else {
        const QDir folder = info.absoluteDir();
        dialog.setDirectory(folder.exists() ? folder.absolutePath() : QDir::currentPath());
        dialog.selectFile(info.fileName());
    }
}

std::optional<std::string> QtFileDialog::chooseFileToOpen(std::string_view defaultExtension, std::string_view filter,
                                                          std::string_view initialName)
{
    const QCoreApplication* application = QCoreApplication::instance();
    if (application == nullptr || QThread::currentThread() != application->thread())
        return std::nullopt;
    QFileDialog dialog;
    prepare(dialog, defaultExtension, filter, initialName);
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    const QStringList chosen = dialog.selectedFiles();
    if (chosen.isEmpty())
        return std::nullopt;
    return QFile::encodeName(chosen.first()).toStdString();
}

}  // namespace sonrigo
