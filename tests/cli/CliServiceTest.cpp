// quelm-cli update and service against the simulated reader on a
// pseudo-terminal, served on this thread while the command waits.
#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>
#include <QTimer>
#include <csignal>
#include <functional>

#include "CliDriver.h"
#include "ReaderModel.h"
#include "ReaderService.h"
#include "SimServer.h"
#include "base/Config.h"
#include "base/IniFile.h"

using namespace quelm;

namespace {

class CliServiceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(server.Open(), 0);
    IniFile ini(config);
    ini.WriteInteger(QStringLiteral("Safety restrictions"), QStringLiteral("Professional"), kServiceLevelKey);
    ASSERT_TRUE(ini.UpdateFile());
  }

  // Runs the command; act() runs once while it waits for the reader's
  // loader (its status line is out, so its port is open).
  test::CliRun run(QStringList args, const std::function<void()>& act = {}, const QString& configPath = {}) {
    args << "--port" << server.SlavePath();
    test::CliRun r;
    QTextStream out(&r.out), err(&r.err);
    cli::CliIO io{out, err, false, configPath.isEmpty() ? config : configPath};
    QTimer watch;
    watch.setInterval(5);
    QObject::connect(&watch, &QTimer::timeout, [&] {
      err.flush();
      if (!act || !r.err.contains("Waiting for reader switch on.")) return;
      watch.stop();
      act();
    });
    watch.start();
    r.code = cli::runCli(args, io);
    out.flush();
    err.flush();
    return r;
  }
  void switchOn() { server.Emit(model.SwitchOnLoader()); }

  QTemporaryDir dir;
  QString config = dir.filePath(QStringLiteral("quelm.INI"));
  sim::TReaderModel model;
  sim::TReaderSimServer server{model};
};

TEST_F(CliServiceTest, UpdateSendsTheProgramAndSaysReadyOnlyWhenTheLoaderHasFinished) {
  const QString path = dir.filePath(QStringLiteral("p.bin"));
  QFile f(path);
  ASSERT_TRUE(f.open(QIODevice::WriteOnly));
  f.write(QByteArray(3000, 'x'));
  f.close();

  auto r = run({"update", path}, [this] { switchOn(); });
  EXPECT_EQ(r.code, 0) << r.err.toStdString();
  EXPECT_EQ(r.out, "Download ready\n");
  EXPECT_TRUE(r.err.contains("Program downloading...\nblock 1 of 3\nblock 2 of 3\nblock 3 of 3\n"))
      << r.err.toStdString();
  EXPECT_TRUE(model.Service().loader.finished);

  model.Service().loader.wrongStatusAt = 2;
  r = run({"update", path}, [this] { switchOn(); });
  EXPECT_EQ(r.code, 1);
  EXPECT_TRUE(r.err.contains("Communication error (-211)")) << r.err.toStdString();
  EXPECT_TRUE(r.out.isEmpty());

  r = run({"update", path}, [] { std::raise(SIGINT); });  // Ctrl+C while the reader is off
  EXPECT_EQ(r.code, 1);
  EXPECT_TRUE(r.err.contains("User abort (-213)")) << r.err.toStdString();
}

TEST_F(CliServiceTest, ServiceReadsTheLogAndTheClockAndBothNeedTheServiceLevel) {
  auto r = run({"service", "log"});
  EXPECT_EQ(r.code, 0) << r.err.toStdString();
  EXPECT_EQ(r.out,
            "2005.03.09 08:30  Write Flash \n2006.11.02 23:59  Key Overheat\n"
            "????.??.?? ??:??  Clock read  \n");
  r = run({"service", "clock"});
  EXPECT_EQ(r.out, "06.12.17 14:05\n");
  EXPECT_EQ(run({"service", "time"}).code, 2);

  const size_t asked = model.Requests.size();
  for (const char* command : {"service", "update"}) {
    r = run({command, "log"}, {}, dir.filePath(QStringLiteral("none.INI")));
    EXPECT_EQ(r.code, 1);
    EXPECT_TRUE(r.err.contains("needs the service level")) << r.err.toStdString();
  }
  EXPECT_EQ(model.Requests.size(), asked);
}

}  // namespace
