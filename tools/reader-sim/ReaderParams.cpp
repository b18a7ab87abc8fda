#include "ReaderParams.h"

#include <algorithm>
#include <cstring>

#include "ReaderModel.h"

namespace quelm::sim {

ParameterState::ParameterState() {
  // A reader as delivered: type A, serial 0017, calibrated; the reserved
  // byte is not 0 so that a host that does not carry it shows.
  std::memset(&ReaderTable, 0, sizeof ReaderTable);
  ReaderTable.RTYPE = 'A';
  std::memcpy(ReaderTable.DID, "0017", 4);
  ReaderTable.HVH = 700 - 150;
  ReaderTable.HVM = 500 - 150;
  ReaderTable.HVL = 400 - 150;
  ReaderTable.DCALL = 1000;
  ReaderTable.DCALH = 100000;
  ReaderTable.DCBGH = 100;
  ReaderTable.MAXT = 50;
  ReaderTable.MINT = -20;
  ReaderTable.U100 = 124;
  ReaderTable.U0 = 96;
  ReaderTable.DCAL20 = 58272.137f;
  ReaderTable.DCALX1 = -0.013362f;
  ReaderTable.DCALX0 = 1.267242f;
  ReaderTable.POSTH = 40;
  ReaderTable.CONTR = 0;
  ReaderTable.Reserved41 = 0x5A;

  for (const char type : {'A', 'B', 'C', 'D'}) DefaultTables[static_cast<uint8_t>(type)] = MakeTable(type);
  for (const char* serial : {"0001", "0002", "0417"}) LookupTable.push_back(MakeTable('A', serial));
  LookupTable.push_back(MakeTable('B', "0010"));

  std::memset(&OwnTable, 0, sizeof OwnTable);
  OwnTable.KTYPE = 'A';
  std::memcpy(OwnTable.KSN, "0042", 4);
  OwnTable.EVASTART = 22;
  OwnTable.EVALEN = 41;
  OwnTable.EVANORM = 1.0375f;
  OwnTable.LRO = 820540800;  // 2006-01-01 00:00
  OwnTable.Reserved15 = 0x3C;
}

BulbParamRecord ParameterState::MakeTable(char type, const char* serial) {
  BulbParamRecord r;
  std::memset(&r, 0, sizeof r);
  r.KTYPE = type;
  std::memcpy(r.KSN, serial, std::min<size_t>(4, std::strlen(serial)));
  const int t = type - 'A';
  r.HUS = static_cast<uint8_t>(50 + t);
  r.TLIM = 30;  // 300 'C
  r.TANN = 10;
  r.TREG = 50;
  r.Reserved9 = 0x99;
  r.EVASTART = 20;
  r.EVALEN = static_cast<uint8_t>(40 + t);
  r.EVANORM = 1.0f + 0.125f * t;
  r.BGCOR = 3;
  r.HEATC = 750;  // 3000 mA
  r.TS = 5;
  r.KANN = 0.75f;
  r.DTFA = 1.5e-6f;
  r.DTFB = -0.0021f;
  r.MDOSE = 1e7f;
  r.DLFA = 1.02f;
  r.DLFB = 0.15f;
  r.DLFN = 5000;
  r.DHFA = 2e-5f;
  r.DHFB = 0.003f;
  r.IPH = 80;
  r.ERRMASK = 0xFF;
  std::memset(r.Reserved58, 0xA5, sizeof r.Reserved58);
  return r;
}

namespace {

void putRecord(std::vector<uint8_t>& reply, const void* record, size_t size) {
  const auto* b = static_cast<const uint8_t*>(record);
  reply.insert(reply.end(), b, b + size);
}

void refuse(std::vector<uint8_t>& reply, uint8_t letter) { reply = {'P', letter, '-'}; }

bool ParameterReply(ParameterState& s, const uint8_t* p, int length, std::vector<uint8_t>& reply);

}  // namespace

bool TReaderModel::ParameterCommand(const uint8_t* p, int length, std::vector<uint8_t>& out) {
  std::vector<uint8_t> reply;
  if (!ParameterReply(*Parameters_, p, length, reply)) return false;
  out = std::move(reply);
  return true;
}

namespace {

bool ParameterReply(ParameterState& s, const uint8_t* p, int length, std::vector<uint8_t>& reply) {
  const auto terminated = [&](int expected) { return length == expected && p[length - 1] == '#'; };
  constexpr int kTable = sizeof(BulbParamRecord);
  const auto entry = [&](const uint8_t* id) {
    return std::find_if(s.LookupTable.begin(), s.LookupTable.end(), [id](const BulbParamRecord& r) {
      return std::memcmp(&r, id, kIdentifierBytes) == 0;
    });
  };
  const uint8_t letter = p[1];
  reply.assign(1, letter);
  switch (letter) {
    case 'J':
      if (!terminated(3)) return false;
      putRecord(reply, &s.ReaderTable, sizeof s.ReaderTable);
      return true;
    case 'I':
      if (!terminated(2 + static_cast<int>(sizeof s.ReaderTable) + 1)) return false;
      std::memcpy(&s.ReaderTable, p + 2, sizeof s.ReaderTable);
      return true;
    case 'M': {
      if (!terminated(4)) return false;
      auto it = s.DefaultTables.find(p[2]);
      if (it == s.DefaultTables.end()) it = s.DefaultTables.find('A');
      const BulbParamRecord table = it != s.DefaultTables.end() ? it->second : ParameterState::MakeTable('A');
      putRecord(reply, &table, sizeof table);
      return true;
    }
    case 'L': {
      if (!terminated(2 + kTable + 1)) return false;
      BulbParamRecord r;
      std::memcpy(&r, p + 2, sizeof r);
      s.DefaultTables[p[2]] = r;
      return true;
    }
    case 'X': {
      if (!terminated(8)) return false;
      const auto at = entry(p + 2);
      if (at == s.LookupTable.end()) {
        refuse(reply, letter);
      } else {
        putRecord(reply, &*at, sizeof *at);
      }
      return true;
    }
    case 'Z': {
      if (!terminated(2 + kTable + 1)) return false;
      BulbParamRecord r;
      std::memcpy(&r, p + 2, sizeof r);
      if (const auto at = entry(p + 2); at != s.LookupTable.end()) {
        *at = r;
      } else if (s.LookupTable.size() >= s.LookupCapacity) {
        refuse(reply, letter);
      } else {
        s.LookupTable.push_back(r);
      }
      return true;
    }
    case 'E': {
      if (!terminated(8)) return false;
      if (const auto at = entry(p + 2); at != s.LookupTable.end())
        s.LookupTable.erase(at);
      else
        refuse(reply, letter);
      return true;
    }
    case 'V': {
      if (!terminated(4)) return false;
      const size_t first = size_t{p[2]} * 10;
      for (size_t k = first; k < std::min(first + 10, s.LookupTable.size()); ++k)
        putRecord(reply, &s.LookupTable[k], kIdentifierBytes);
      return true;
    }
    case 'Q':
      if (!terminated(4) || p[2] != '0') return false;
      if (s.OwnPresent)
        putRecord(reply, &s.OwnTable, sizeof s.OwnTable);
      else
        refuse(reply, letter);
      return true;
    case 'O':
      if (!terminated(2 + static_cast<int>(sizeof s.OwnTable) + 1)) return false;
      if (s.OwnPresent)
        std::memcpy(&s.OwnTable, p + 2, sizeof s.OwnTable);
      else
        refuse(reply, letter);
      return true;
    default:
      return false;
  }
}

}  // namespace

}  // namespace quelm::sim
