#include "ReaderParams.h"

#include "ReaderModel.h"

namespace quelm::sim {

bool TReaderModel::ParameterCommand(const uint8_t* /*payload*/, int /*length*/,
                                    std::vector<uint8_t>& /*reply*/) {
  return false;
}

}  // namespace quelm::sim
