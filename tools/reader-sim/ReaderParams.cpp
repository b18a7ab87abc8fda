#include "ReaderParams.h"

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
}

bool TReaderModel::ParameterCommand(const uint8_t* p, int length, std::vector<uint8_t>& reply) {
  ParameterState& s = *Parameters_;
  const auto terminated = [&](int expected) { return length == expected && p[length - 1] == '#'; };
  const auto* table = reinterpret_cast<uint8_t*>(&s.ReaderTable);
  switch (p[1]) {
    case 'J':
      if (!terminated(3)) return false;
      reply.assign(1, 'J');
      reply.insert(reply.end(), table, table + sizeof s.ReaderTable);
      return true;
    case 'I':
      if (!terminated(2 + static_cast<int>(sizeof s.ReaderTable) + 1)) return false;
      std::memcpy(&s.ReaderTable, p + 2, sizeof s.ReaderTable);
      reply.assign(1, 'I');
      return true;
    default:
      return false;
  }
}

}  // namespace quelm::sim
