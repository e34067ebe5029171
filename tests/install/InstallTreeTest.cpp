// Installs the built program into a temporary prefix with `cmake --install`
// and checks the tree as a desktop and a user meet it: the files in place,
// icons of the sizes their folders name, a desktop entry and metainfo that
// point at what is installed, and an installed program that keeps its
// user's files in the user's data folder.
#include "common/FileIo.h"

#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QProcess>
#include <QThread>

#include <sys/stat.h>

#include <regex>

using velth::isDirectory;
using velth::pathExists;
using velth::readFile;
using velth::test::TempDir;

namespace {

const std::string kAppId = "org.velth.ControlCenter";

// The installed tree, made once for every case of this program.
class Installed
{
public:
    static const TempDir& prefix()
    {
        static Installed installed;
        return installed.m_prefix;
    }

private:
    Installed()
    {
        QProcess install;
        install.setProcessChannelMode(QProcess::MergedChannels);
        install.start(QStringLiteral(VELTH_CMAKE),
            { QStringLiteral("--install"), QStringLiteral(VELTH_BUILD_DIR), QStringLiteral("--prefix"),
                QString::fromStdString(m_prefix.path()) });
        install.waitForFinished(120000);
        m_log = install.readAll().toStdString();
        if (install.exitStatus() != QProcess::NormalExit || install.exitCode() != 0)
            ADD_FAILURE() << "cmake --install failed:\n" << m_log;
    }
    TempDir m_prefix;
    std::string m_log;
};

std::string installed(const std::string& path)
{
    return Installed::prefix().file(path);
}

// Width and height from a PNG file's header.
std::pair<int, int> pngSize(const std::string& bytes)
{
    if (bytes.size() < 24 || bytes.compare(0, 8, "\x89PNG\r\n\x1a\n") != 0 || bytes.compare(12, 4, "IHDR") != 0)
        return { -1, -1 };
    auto be32 = [&](std::size_t at) {
        int v = 0;
        for (std::size_t i = 0; i < 4; ++i)
            v = (v << 8) | static_cast<unsigned char>(bytes[at + i]);
        return v;
    };
    return { be32(16), be32(20) };
}

// The value of a key in the [Desktop Entry] group.
std::string desktopValue(const std::string& entry, const std::string& key)
{
    std::smatch m;
    const std::regex line("(^|\n)" + key + "=([^\n]*)");
    return std::regex_search(entry, m, line) ? m[2].str() : std::string();
}

struct FileCase
{
    const char* path;
    bool executable;
};

class InstallTreeFiles : public ::testing::TestWithParam<FileCase>
{ };

TEST_P(InstallTreeFiles, AreInPlace)
{
    const std::string path = installed(GetParam().path);
    struct stat st
    { };
    ASSERT_EQ(::stat(path.c_str(), &st), 0) << path;
    EXPECT_TRUE(S_ISREG(st.st_mode)) << path;
    EXPECT_GT(st.st_size, 0) << path;
    EXPECT_EQ((st.st_mode & S_IXUSR) != 0, GetParam().executable) << path;
}

INSTANTIATE_TEST_SUITE_P(Tree, InstallTreeFiles,
    ::testing::Values(FileCase{ "bin/velth-control-center", true }, FileCase{ "bin/velth-logscan", true },
        FileCase{ "bin/velth-server", true }, FileCase{ "share/velth-control-center/mapcycle.txt", false },
        FileCase{ "share/applications/org.velth.ControlCenter.desktop", false },
        FileCase{ "share/metainfo/org.velth.ControlCenter.metainfo.xml", false },
        FileCase{ "share/icons/hicolor/scalable/apps/org.velth.ControlCenter.svg", false },
        FileCase{ "share/man/man1/velth-logscan.1.gz", false }, FileCase{ "share/man/man1/velth-server.1.gz", false }));

class InstallTreeIcons : public ::testing::TestWithParam<int>
{ };

TEST_P(InstallTreeIcons, HaveTheSizeTheirFolderNames)
{
    const int size = GetParam();
    const std::string path = installed(
        "share/icons/hicolor/" + std::to_string(size) + "x" + std::to_string(size) + "/apps/" + kAppId + ".png");
    ASSERT_TRUE(pathExists(path)) << path;
    EXPECT_EQ(pngSize(readFile(path)), std::make_pair(size, size)) << path;
}

INSTANTIATE_TEST_SUITE_P(Hicolor, InstallTreeIcons, ::testing::Values(16, 22, 24, 32, 48, 64, 96, 128, 256));

TEST(InstallTree, DefaultMapListIsTheProjectsOne)
{
    EXPECT_EQ(readFile(installed("share/velth-control-center/mapcycle.txt")),
        readFile(VELTH_SOURCE_DIR "/resources/mapcycle.txt"));
}

TEST(InstallTree, DesktopEntryAndMetainfoPointAtWhatIsInstalled)
{
    const std::string entry = readFile(installed("share/applications/" + kAppId + ".desktop"));
    const std::string exec = desktopValue(entry, "Exec");
    const std::string program = exec.substr(0, exec.find(' '));
    EXPECT_TRUE(pathExists(installed("bin/" + program))) << "Exec=" << exec;
    const std::string icon = desktopValue(entry, "Icon");
    EXPECT_TRUE(pathExists(installed("share/icons/hicolor/48x48/apps/" + icon + ".png"))) << "Icon=" << icon;
    EXPECT_TRUE(pathExists(installed("share/icons/hicolor/scalable/apps/" + icon + ".svg"))) << "Icon=" << icon;

    const std::string meta = readFile(installed("share/metainfo/" + kAppId + ".metainfo.xml"));
    EXPECT_NE(meta.find("<id>" + kAppId + "</id>"), std::string::npos);
    EXPECT_NE(meta.find("<launchable type=\"desktop-id\">" + kAppId + ".desktop</launchable>"), std::string::npos);
    EXPECT_NE(meta.find("<binary>" + program + "</binary>"), std::string::npos);
}

TEST(InstallTree, InstalledLogScannerRuns)
{
    TempDir work;
    work.write("empty.log", "");
    QProcess scan;
    scan.start(QString::fromStdString(installed("bin/velth-logscan")),
        { QStringLiteral("--stats"), QString::fromStdString(work.file("empty.log")) });
    ASSERT_TRUE(scan.waitForFinished(60000));
    EXPECT_EQ(scan.exitCode(), 0);
    EXPECT_EQ(scan.readAllStandardOutput().toStdString(),
        "{\"time\":0,\"map\":0,\"public_chat\":0,\"t_chat\":0,\"ct_chat\":0,\"cvars\":0,\"ct_rows\":0,\"t_rows\":0,"
        "\"ct_wins\":0,\"t_wins\":0}\n");
}

// The installed program, started as a desktop would, makes the user's data
// folder with the working folders and the default map list, and writes
// nothing beside itself.
TEST(InstallTree, InstalledProgramKeepsItsFilesInTheUsersDataFolder)
{
    TempDir user;
    QProcess program;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("HOME"), QString::fromStdString(user.file("home")));
    env.insert(QStringLiteral("XDG_DATA_HOME"), QString::fromStdString(user.file("data")));
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    program.setProcessEnvironment(env);
    program.start(QString::fromStdString(installed("bin/velth-control-center")), {});
    ASSERT_TRUE(program.waitForStarted(60000));

    const std::string data = user.file("data/velth-control-center/");
    QDeadlineTimer deadline(90000);
    while (!(isDirectory(data + "logs") && isDirectory(data + "cfgs")) && !deadline.hasExpired()
        && program.state() == QProcess::Running)
        QThread::msleep(100);
    const bool running = program.state() == QProcess::Running;
    program.kill();
    program.waitForFinished(30000);

    EXPECT_TRUE(running) << "the program ended early:\n" << program.readAllStandardError().toStdString();
    EXPECT_TRUE(isDirectory(data + "logs"));
    EXPECT_TRUE(isDirectory(data + "cfgs"));
    EXPECT_EQ(readFile(data + "mapcycle.txt"), readFile(VELTH_SOURCE_DIR "/resources/mapcycle.txt"));
    for (const char* name : { "logs", "cfgs", "mapcycle.txt", "ftpserver.ini" })
        EXPECT_FALSE(pathExists(installed("bin/") + name)) << name;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
