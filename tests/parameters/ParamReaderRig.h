#pragma once
// The simulated reader on a pseudo-terminal, served on this thread's event
// loop while the program's link waits, installed as the command channel.
// The configuration file maps COM1 to it and can switch the service level on.

#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "ReaderModel.h"
#include "ReaderParams.h"
#include "SimServer.h"
#include "base/Config.h"
#include "base/IniFile.h"
#include "link/CommandChannel.h"
#include "link/FrameLink.h"

namespace quelm::test {

using Bytes = std::vector<uint8_t>;

struct ParamReaderRig {
  sim::TReaderModel model;
  sim::TReaderSimServer server{model};
  QTemporaryDir dir;
  QString configPath = dir.filePath(QStringLiteral("quelm.INI"));
  TFrameLink link;

  explicit ParamReaderRig(bool serviceLevel = false) {
    EXPECT_EQ(server.Open(), 0);
    IniFile ini(configPath);
    ini.WriteString(QStringLiteral("Serial port settings"), QStringLiteral("COM1"), server.SlavePath());
    if (serviceLevel)
      ini.WriteInteger(QStringLiteral("Safety restrictions"), QStringLiteral("Professional"),
                       kServiceLevelKey);
    EXPECT_TRUE(ini.UpdateFile());
    link.COMPortDrv.IniFileName = configPath;
    link.COMPortDrv.SetPortNumber(pnCOM1);
    link.COMPortDrv.SetPollDelay(5);
    SetCommandChannel(&link.Channel());
  }
  ~ParamReaderRig() {
    if (CommandChannel() == &link.Channel()) SetCommandChannel(nullptr);
  }

  // The payloads of the information frames the reader received.
  std::vector<Bytes> commands() const {
    std::vector<Bytes> v;
    for (const Bytes& f : model.Requests)
      if (f.size() > 8 && (f[5] & 0x80)) v.emplace_back(f.begin() + 6, f.end() - 2);
    return v;
  }
  // Their command letters, in order.
  std::string letters() const {
    std::string s;
    for (const Bytes& c : commands()) s += char(c[1]);
    return s;
  }
  // The reader's look-up entry for type and serial `id` ("A0002"), or nullptr.
  const BulbParamRecord* lookupEntry(const char* id) {
    for (const BulbParamRecord& r : model.Parameters().LookupTable)
      if (std::memcmp(&r, id, 5) == 0) return &r;
    return nullptr;
  }
};

}  // namespace quelm::test
