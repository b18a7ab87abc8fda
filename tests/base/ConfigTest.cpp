#include <gtest/gtest.h>

#include <sys/stat.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include "ScriptedPrompter.h"
#include "WriteLimit.h"
#include "base/Config.h"
#include "base/DataFiles.h"
#include "base/ErrorCodes.h"

using quelm::AppConfig;
using quelm::test::ScriptedPrompter;

namespace {

class ConfigTest : public ::testing::Test {
 protected:
  QString path() const { return dir_.filePath(QStringLiteral("quelm.INI")); }
  void write(const QByteArray& content) {
    QFile f(path());
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(content);
  }
  QByteArray read() const {
    QFile f(path());
    EXPECT_TRUE(f.open(QIODevice::ReadOnly)) << qPrintable(path());
    return f.readAll();
  }
  static void expectDefaults(const AppConfig& c) {
    EXPECT_EQ(c.Left, 10);
    EXPECT_EQ(c.Top, 10);
    EXPECT_EQ(c.Height, 652);
    EXPECT_EQ(c.Width, 771);
    EXPECT_EQ(c.PortNumber, 1);
    EXPECT_EQ(c.BaudRate, 9u);
    EXPECT_FALSE(c.Professional);
    EXPECT_EQ(c.MaxPostHeating, 50);
  }

  QTemporaryDir dir_;
};

const QByteArray kDefaultFile =
    "[Serial port settings]\r\nPortNumber=1\r\nBaudRate=9\r\n\r\n"
    "[Screen]\r\nLeft=10\r\nTop=10\r\nHeight=652\r\nWidth=771\r\n\r\n"
    "[Safety restrictions]\r\nProfessional=0\r\n\r\n"
    "[Reader Parameters]\r\nMaxPostHeating=50\r\n";

TEST_F(ConfigTest, NoFileGivesTheDefaultsAndWritingCreatesAllEightKeysInOrder) {
  AppConfig c;
  EXPECT_EQ(quelm::ReadConfig(path(), c), 0);
  expectDefaults(c);
  ScriptedPrompter p;
  EXPECT_TRUE(quelm::WriteConfig(path(), c));
  EXPECT_TRUE(p.messages.empty());
  EXPECT_EQ(read(), kDefaultFile);
}

TEST_F(ConfigTest, MissingKeysKeepTheirDefaultsAndPresentOnesApply) {
  write(
      "[Screen]\r\nTop=120\r\nWidth=0x400\r\n[Reader Parameters]\r\nMaxPostHeating=77\r\n"
      "[Serial port settings]\r\nBaudRate=junk\r\n");
  AppConfig c;
  ASSERT_EQ(quelm::ReadConfig(path(), c), 0);
  EXPECT_EQ(c.Left, 10);
  EXPECT_EQ(c.Top, 120);
  EXPECT_EQ(c.Width, 1024);
  EXPECT_EQ(c.Height, 652);
  EXPECT_EQ(c.BaudRate, 9u);  // unparsable: the default
  EXPECT_EQ(c.MaxPostHeating, 77);
}

TEST_F(ConfigTest, OnlyTheServiceKeySwitchesTheLevelOn) {
  struct Case {
    const char* value;
    bool on;
  };
  const Case cases[] = {{"1403726958", true}, {"0x53AB2C6E", true},  {" 1403726958 ", true}, {"1", false},
                        {"0", false},         {"1403726959", false}, {"-1403726958", false}, {"yes", false}};
  for (const Case& k : cases) {
    write(QByteArray("[Safety restrictions]\r\nProfessional=") + k.value + "\r\n");
    AppConfig c;
    ASSERT_EQ(quelm::ReadConfig(path(), c), 0);
    EXPECT_EQ(c.Professional, k.on) << k.value;
  }
}

TEST_F(ConfigTest, TheLevelIsWrittenAsTheKeyOrAsZero) {
  write("[Safety restrictions]\r\nProfessional=1\r\n");
  AppConfig c;
  ASSERT_EQ(quelm::ReadConfig(path(), c), 0);
  ASSERT_TRUE(quelm::WriteConfig(path(), c));
  EXPECT_TRUE(read().contains("\r\nProfessional=0\r\n"));
  c.Professional = true;
  ASSERT_TRUE(quelm::WriteConfig(path(), c));
  EXPECT_TRUE(read().contains("\r\nProfessional=1403726958\r\n"));
  AppConfig again;
  ASSERT_EQ(quelm::ReadConfig(path(), again), 0);
  EXPECT_TRUE(again.Professional);
}

TEST_F(ConfigTest, WritingKeepsUnknownKeysSectionsAndTheFileOrder) {
  write(
      "; Quelm\r\n[Serial port settings]\r\nCOM1=/dev/ttyUSB0\r\nPortNumber=3\r\nBaudRate=7\r\n\r\n"
      "[Vendor]\r\nColour=blue\r\n\r\n[Screen]\r\nLeft=40\r\nTop=50\r\nHeight=600\r\nWidth=800\r\n");
  AppConfig c;
  ASSERT_EQ(quelm::ReadConfig(path(), c), 0);
  EXPECT_EQ(c.PortNumber, 3);
  EXPECT_EQ(c.BaudRate, 7u);
  c.Left = 41;
  c.MaxPostHeating = 60;
  ASSERT_TRUE(quelm::WriteConfig(path(), c));
  EXPECT_EQ(
      read(),
      QByteArray(
          "; Quelm\r\n[Serial port settings]\r\nCOM1=/dev/ttyUSB0\r\nPortNumber=3\r\nBaudRate=7\r\n\r\n"
          "[Vendor]\r\nColour=blue\r\n\r\n[Screen]\r\nLeft=41\r\nTop=50\r\nHeight=600\r\nWidth=800\r\n"
          "\r\n[Safety restrictions]\r\nProfessional=0\r\n\r\n[Reader Parameters]\r\nMaxPostHeating=60\r\n"));
}

TEST_F(ConfigTest, ValuesSurviveARoundTrip) {
  AppConfig c;
  c.Left = -20;  // a window partly left of the screen
  c.Top = 33;
  c.Height = 480;
  c.Width = 640;
  c.PortNumber = 16;
  c.BaudRate = 14;
  c.Professional = true;
  c.MaxPostHeating = 123;
  ASSERT_TRUE(quelm::WriteConfig(path(), c));
  AppConfig r;
  ASSERT_EQ(quelm::ReadConfig(path(), r), 0);
  EXPECT_EQ(r.Left, -20);
  EXPECT_EQ(r.Top, 33);
  EXPECT_EQ(r.Height, 480);
  EXPECT_EQ(r.Width, 640);
  EXPECT_EQ(r.PortNumber, 16);
  EXPECT_EQ(r.BaudRate, 14u);
  EXPECT_TRUE(r.Professional);
  EXPECT_EQ(r.MaxPostHeating, 123);
}

// A file that cannot be written is returned as false and shown by the
// caller (the main window at its close): WriteConfig shows nothing itself.
TEST_F(ConfigTest, AFileThatCannotBeReadIsNeverOverwritten) {
  // A directory in place of the file: nobody, root included, can read it.
  ASSERT_TRUE(QDir(dir_.path()).mkdir(QStringLiteral("quelm.INI")));
  AppConfig c;
  c.Left = 99;
  EXPECT_EQ(quelm::ReadConfig(path(), c), quelm::kErrIniFile);
  EXPECT_EQ(c.Left, 99);
  ScriptedPrompter p;
  EXPECT_FALSE(quelm::WriteConfig(path(), c));
  EXPECT_TRUE(p.messages.empty());
  EXPECT_TRUE(QFileInfo(path()).isDir());
}

TEST_F(ConfigTest, APipeInPlaceOfTheFileKeepsTheDefaultsAndIsNeverWritten) {
  ASSERT_EQ(::mkfifo(QFile::encodeName(path()).constData(), 0600), 0);
  AppConfig c;
  EXPECT_EQ(quelm::ReadConfig(path(), c), quelm::kErrIniFile);
  expectDefaults(c);
  ScriptedPrompter p;
  EXPECT_FALSE(quelm::WriteConfig(path(), c));
  EXPECT_TRUE(p.messages.empty());
  EXPECT_FALSE(QFileInfo(path()).isFile());
}

TEST_F(ConfigTest, AFailedWriteLosesNothingAndNotesWhy) {
  const QByteArray old = "[Serial port settings]\r\nCOM2=/dev/ttyACM0\r\nPortNumber=2\r\n[Extra]\r\nA=1\r\n";
  write(old);
  AppConfig c;
  ASSERT_EQ(quelm::ReadConfig(path(), c), 0);
  ScriptedPrompter p;
  {
    quelm::test::WriteLimit limit(16);
    EXPECT_FALSE(quelm::WriteConfig(path(), c));
  }
  EXPECT_TRUE(p.messages.empty());
  const quelm::FileFailure why = quelm::takeFileFailure();
  EXPECT_EQ(why.name, path());
  EXPECT_FALSE(why.reason.isEmpty());
  EXPECT_EQ(read(), old);
  EXPECT_EQ(QDir(dir_.path()).entryList(QDir::Files), QStringList{QStringLiteral("quelm.INI")});
}

TEST_F(ConfigTest, AMissingDirectoryFails) {
  const QString nowhere = dir_.filePath(QStringLiteral("gone/quelm.INI"));
  AppConfig c;
  EXPECT_EQ(quelm::ReadConfig(nowhere, c), 0);
  ScriptedPrompter p;
  EXPECT_FALSE(quelm::WriteConfig(nowhere, c));
  EXPECT_TRUE(p.messages.empty());
  EXPECT_EQ(quelm::takeFileFailure().name, nowhere);
}

TEST(ConfigPlace, BesideAWritableProgramFolderElseInTheUsersFolders) {
  const quelm::UserFolders user{QStringLiteral("/home/ann/.config"), QStringLiteral("/home/ann/Documents")};
  struct Case {
    bool writable, installed;
    const char *config, *storage;
  };
  const Case cases[] = {
      {true, false, "/opt/q/quelm.INI", "/opt/q/"},  // a build folder, a copy on a stick
      {false, false, "/home/ann/.config/quelm/quelm.INI", "/home/ann/Documents/"},
      {true, true, "/home/ann/.config/quelm/quelm.INI", "/home/ann/Documents/"},  // root, installed
      {false, true, "/home/ann/.config/quelm/quelm.INI", "/home/ann/Documents/"},
  };
  for (const Case& c : cases) {
    const quelm::ProgramPlace place{QStringLiteral("/opt/q"), QStringLiteral("quelm"), c.writable,
                                    c.installed};
    EXPECT_EQ(quelm::configFileFor(place, user), QLatin1String(c.config)) << c.writable << c.installed;
    EXPECT_EQ(quelm::storagePathFor(place, user), QLatin1String(c.storage)) << c.writable << c.installed;
  }
}

TEST(ConfigPlace, TheBuildFoldersProgramsKeepTheirFilesBesideThemUnlessAPathIsSet) {
  const QString program = QCoreApplication::applicationFilePath();
  const QString folder = QCoreApplication::applicationDirPath();
  EXPECT_FALSE(quelm::thisProgram().installed);
  EXPECT_EQ(quelm::defaultConfigFilePath(), program + QStringLiteral(".INI"));  // no extension here
  EXPECT_EQ(quelm::defaultConfigFilePath(QStringLiteral("quelm")), folder + QStringLiteral("/quelm.INI"));
  EXPECT_EQ(quelm::storagePath(), folder + QLatin1Char('/'));
  EXPECT_EQ(quelm::configFilePath(), quelm::defaultConfigFilePath());
  quelm::setConfigFilePath(QStringLiteral("/tmp/x/other.INI"));
  EXPECT_EQ(quelm::configFilePath(), QStringLiteral("/tmp/x/other.INI"));
  quelm::setConfigFilePath(QString());
  EXPECT_EQ(quelm::configFilePath(), quelm::defaultConfigFilePath());

  QTemporaryDir home;
  const QByteArray saved = qgetenv("XDG_CONFIG_HOME");
  qputenv("XDG_CONFIG_HOME", QFile::encodeName(home.path()));
  EXPECT_EQ(quelm::thisUsersFolders().configHome, home.path());
  saved.isNull() ? qunsetenv("XDG_CONFIG_HOME") : qputenv("XDG_CONFIG_HOME", saved);
}

TEST_F(ConfigTest, AFirstStartCreatesTheUsersConfigurationWithTheDefaultsAndKeepsWhatIsThere) {
  const quelm::UserFolders user{dir_.filePath(QStringLiteral("config")),
                                dir_.filePath(QStringLiteral("Docs"))};
  const quelm::ProgramPlace installed{dir_.filePath(QStringLiteral("bin")), QStringLiteral("quelm"), false,
                                      true};
  const QString config = quelm::configFileFor(installed, user);
  ScriptedPrompter p;
  ASSERT_EQ(quelm::prepareProgramFiles(installed, user), QStringList());
  QFile created(config);
  ASSERT_TRUE(created.open(QIODevice::ReadOnly));
  EXPECT_EQ(created.readAll(), kDefaultFile);
  created.close();
  EXPECT_EQ(QFileInfo(QFileInfo(config).absolutePath()).permissions() & 0x0777, QFile::Permissions(0x0700));
  EXPECT_TRUE(QFileInfo(user.documents).isDir());

  ASSERT_TRUE(created.open(QIODevice::WriteOnly | QIODevice::Truncate));
  created.write("[Safety restrictions]\r\nProfessional=1403726958\r\n");
  created.close();
  EXPECT_EQ(quelm::prepareProgramFiles(installed, user), QStringList());
  AppConfig c;
  ASSERT_EQ(quelm::ReadConfig(config, c), 0);
  EXPECT_TRUE(c.Professional);

  // Beside the program the first close writes the file, as it always has.
  const quelm::ProgramPlace beside{dir_.path(), QStringLiteral("quelm"), true, false};
  EXPECT_EQ(quelm::prepareProgramFiles(beside, user), QStringList());
  EXPECT_FALSE(QFileInfo::exists(path()));

  // A configuration folder that cannot be made is said, not passed over;
  // the program shows what is returned.
  write("not a folder");
  const quelm::UserFolders blocked{path(), user.documents};
  EXPECT_EQ(quelm::prepareProgramFiles(installed, blocked),
            QStringList{QStringLiteral("Unable to create the folder ") + path() + QStringLiteral("/quelm")});
  EXPECT_TRUE(p.messages.empty());
}

}  // namespace
