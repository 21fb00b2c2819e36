// The target list over a combo box, with monitor files written in code.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QDir>
#include <cstring>

#include "app/target_list.h"
#include "tests/support/hex_text.h"
#include "tests/support/test_files.h"

namespace {

// A monitor file whose header, in `segment`, names `name`.
std::string MonitorFile(const std::string& name, std::uint16_t specification = 172,
                        std::uint16_t segment = 0) {
    std::vector<std::uint8_t> header(172, 0);
    std::memcpy(header.data(), "MONITOR", 7);
    header[8] = static_cast<std::uint8_t>(specification);
    header[9] = static_cast<std::uint8_t>(specification >> 8);
    header[10] = 1;  // loader segment
    header[12] = 2;  // monitor segment
    std::memcpy(header.data() + 70, name.data(), std::min<std::size_t>(name.size(), 100));
    return hex_text::Linear(segment) + hex_text::Data(0, header);
}

std::string End() {
    return hex_text::End();
}

class TargetListTest : public ::testing::Test {
protected:
    QString Folder() const { return QString::fromStdString(m_dir.path().string()); }
    QString PathOf(const std::string& name) const {
        return QDir::toNativeSeparators(Folder() + "/" + QString::fromStdString(name));
    }
    QStringList Fill(const QString& stored = QString()) {
        FillTargetList(m_list, Folder(), stored);
        QStringList names;
        for (int i = 0; i < m_list.count(); ++i) {
            names << m_list.itemText(i);
        }
        return names;
    }

    TempDir m_dir;
    QComboBox m_list;
    MessageRecorder m_messages;
};

}  // namespace

TEST_F(TargetListTest, NamesFromHeadersAndFileNamesSortedCaseInsensitively) {
    m_dir.Write("Mon_zeta.h86", MonitorFile("zeta board") + End());
    m_dir.Write("b.h86", MonitorFile("Alpha") + End());
    m_dir.Write("p.h86", MonitorFile("Pr\xFC"
                                     "fstand") +
                             End());
    m_dir.Write("Mon_BoardA_40MHz.h86", hex_text::Data(0, {1, 2, 3}) + End());
    m_dir.Write("X.H86", End());
    m_dir.Write("readme.txt", MonitorFile("Text") + End());

    EXPECT_EQ(Fill(), QStringList({"Alpha", "BoardA_40MHz", "Prüfstand", "X", "zeta board"}));
    EXPECT_EQ(m_list.itemData(0).toString(), PathOf("b.h86"));
    EXPECT_EQ(m_list.currentIndex(), -1);
    EXPECT_TRUE(m_messages.messages().empty());
}

TEST_F(TargetListTest, UnloadableAndIncompatibleFilesAreListedByFileName) {
    m_dir.Write("A_B_C.h86",
                MonitorFile("Never") + hex_text::RecordWithBadChecksum(0, 0, {1}) + "\n");
    // The first signature decides, even with a valid header in a later segment.
    m_dir.Write("Mon_Spec171.h86", MonitorFile("Old", 171, 3) + MonitorFile("New", 172, 5) + End());

    EXPECT_EQ(Fill(), QStringList({"B_C", "Spec171"}));
    ASSERT_FALSE(m_messages.messages().empty());
    EXPECT_EQ(m_messages.messages().back(), "Fehler");
}

TEST_F(TargetListTest, StoredNameSelectsTheFirstEntryItBegins) {
    m_dir.Write("1.h86", MonitorFile("Boardwalk") + End());
    m_dir.Write("2.h86", MonitorFile("board b") + End());
    m_dir.Write("3.h86", MonitorFile("Board A") + End());
    m_dir.Write("4.h86", MonitorFile("Alpha") + End());

    Fill("BOARD");
    EXPECT_EQ(m_list.currentText(), QStringLiteral("Board A"));
    QString target = "before";
    EXPECT_EQ(GetSelectedTarget(m_list, target), PathOf("3.h86"));
    EXPECT_EQ(target, QStringLiteral("Board A"));

    m_list.clear();
    Fill("Gamma");
    EXPECT_EQ(m_list.currentIndex(), -1);
    EXPECT_EQ(GetSelectedTarget(m_list, target), QString());
    EXPECT_EQ(target, QStringLiteral("Board A"));
}

TEST_F(TargetListTest, SingleEntryIsSelectedWhateverWasStored) {
    m_dir.Write("only.h86", MonitorFile("Only") + End());
    Fill("Something else");
    EXPECT_EQ(m_list.currentIndex(), 0);
}

TEST_F(TargetListTest, MissingFolderGivesAnEmptyList) {
    FillTargetList(m_list, Folder() + "/Targets", "Alpha");
    EXPECT_EQ(m_list.count(), 0);
    QString target = "Alpha";
    EXPECT_EQ(GetSelectedTarget(m_list, target), QString());
    EXPECT_EQ(target, QStringLiteral("Alpha"));
}

TEST_F(TargetListTest, NameEndingInSpacesKeepsItsSpacesAndItsPath) {
    m_dir.Write("spaces.h86", MonitorFile("Board   ") + End());
    m_dir.Write("same1.h86", MonitorFile("Twin") + End());
    m_dir.Write("same2.h86", MonitorFile("Twin") + End());

    Fill("Board   ");
    QString target;
    EXPECT_EQ(GetSelectedTarget(m_list, target), PathOf("spaces.h86"));
    EXPECT_EQ(target, QStringLiteral("Board   "));
    // Equal names stay two entries, each with its own file.
    EXPECT_EQ(m_list.itemData(1).toString(), PathOf("same1.h86"));
    EXPECT_EQ(m_list.itemData(2).toString(), PathOf("same2.h86"));
}

// The window shows the union of the system folders and the user's folder; a name from the
// user's folder hides the same name from the others.
TEST_F(TargetListTest, TheUsersFolderHidesTheSameNameFromTheSystemFolders) {
    TempDir user;
    m_dir.Write("a.h86", MonitorFile("Board A") + End());
    m_dir.Write("b.h86", MonitorFile("Board B") + End());
    const std::string mine = user.Write("mine.h86", MonitorFile("BOARD A") + End());
    FillTargetList(m_list, QStringList{Folder()}, QString::fromStdString(user.path().string()),
                   QString());
    ASSERT_EQ(m_list.count(), 2);
    EXPECT_EQ(m_list.itemText(0), "BOARD A");
    EXPECT_EQ(m_list.itemData(0).toString(),
              QDir::toNativeSeparators(QString::fromStdString(mine)));
    EXPECT_EQ(m_list.itemText(1), "Board B");
}
