#include <gtest/gtest.h>

#include <QDir>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QLineEdit>
#include <QTest>

#include "platform/QtFileDialog.h"
#include "smf/MidiFileLoader.h"
#include "support/Gate.h"
#include "support/TempDir.h"

namespace sonrigo {
namespace {

class QtFileDialogFolder : public testing::Test {
protected:
    void SetUp() override
    {
#if defined(__SANITIZE_THREAD__)
        GTEST_SKIP() << "Qt's file dialog reads folders on a thread of its own, whose locks the thread "
                        "checker cannot see in an uninstrumented Qt";
#endif
        for (const char* name : {"song.mid", "LOUD.MID", "tune.Kar", "notes.txt"})
            dir.write(name, {0});
    }

    QString inDir(const QString& name) const { return QDir(folder).filePath(name); }
    // The names the dialog lists in its folder, once its model has read it.
    QStringList listed(QFileDialog& dialog, qsizetype expected) const
    {
        auto* model = dialog.findChild<QFileSystemModel*>();
        QStringList names;
        if (model == nullptr)
            return names;
        (void)QTest::qWaitFor(
            [&] {
                names.clear();
                const QModelIndex root = model->index(folder);
                for (int row = 0; row < model->rowCount(root); ++row)
                    names.append(model->index(row, 0, root).data().toString());
                return names.size() >= expected;
            },
            test::Gate::kPatience.count());
        names.sort();
        return names;
    }

    test::TempDir dir;
    QString folder = QString::fromStdString(dir.path().string());
};

// A song's glob brings the other names of a MIDI file, whatever its case.
TEST_F(QtFileDialogFolder, OpensOnTheInitialFileAndListsSongsWhateverTheirCase)
{
    QFileDialog dialog;
    QtFileDialog::prepare(dialog, "mid", MidiFileLoader::kFilter, inDir("song.mid").toStdString());
    EXPECT_EQ(dialog.directory().absolutePath(), folder);
    EXPECT_EQ(dialog.selectedFiles().value(0), inDir("song.mid"));
    EXPECT_EQ(listed(dialog, 3), (QStringList{"LOUD.MID", "song.mid", "tune.Kar"}));
}

TEST_F(QtFileDialogFolder, NameTypedWithoutExtensionGetsTheDefaultOne)
{
    QFileDialog dialog;
    QtFileDialog::prepare(dialog, "mid", MidiFileLoader::kFilter, folder.toStdString());
    dialog.open();
    auto* name = dialog.findChild<QLineEdit*>("fileNameEdit");
    ASSERT_NE(name, nullptr);
    name->setText("song");
    static_cast<QDialog&>(dialog).accept();  // QFileDialog's is protected
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(dialog.selectedFiles().value(0), inDir("song.mid"));
}

TEST_F(QtFileDialogFolder, InitialNameInAMissingFolderOpensTheCurrentFolder)
{
    for (const char* initial : {"", "/no/such/folder/song.mid"}) {
        QFileDialog dialog;
        QtFileDialog::prepare(dialog, "mid", MidiFileLoader::kFilter, initial);
        EXPECT_EQ(dialog.directory().absolutePath(), QDir::currentPath()) << initial;
    }
}

}  // namespace
}  // namespace sonrigo
