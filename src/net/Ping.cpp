#include "net/Ping.h"

namespace velmora {

TPing::TPing() : TPing(std::make_unique<TICMP>()) {}

TPing::TPing(std::unique_ptr<TICMP> icmp) : icmp_(std::move(icmp)) {
  icmp_->OnDisplay = [this](const std::string &message) {
    if (OnDisplay)
      OnDisplay(*this, *icmp_, message);
  };
  icmp_->OnEchoRequest = [this] {
    if (OnEchoRequest)
      OnEchoRequest(*this, *icmp_);
  };
  icmp_->OnEchoReply = [this](int32_t replies) {
    if (OnEchoReply)
      OnEchoReply(*this, *icmp_, replies);
  };
}

} // namespace velmora
