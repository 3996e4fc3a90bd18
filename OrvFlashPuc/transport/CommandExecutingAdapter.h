#pragma once

#include <cstdint>

#include "transport/BootCommandExecutor.h"
#include "transport/CommAdapter.h"

namespace orv {

// A transport that carries the gateway commands out itself, over the bus operations its
// derived class gives, paced by that transport's policy.
class CommandExecutingAdapter : public CCommAdapter, protected BootLoaderBus {
  public:
    CommandExecutingAdapter(const CommandExecutingAdapter&) = delete;
    CommandExecutingAdapter& operator=(const CommandExecutingAdapter&) = delete;

    // Always 0: the outcome is the reply's status. The capacity and the timeout are not used;
    // every wait is the node's reply wait.
    int Transact(const CCcbMessage* request, CCcbMessage* reply, int /*replyCapacity*/,
                 uint32_t /*timeoutMs*/) final {
        executor_.Execute(*request, *reply);
        return 0;
    }

  protected:
    explicit CommandExecutingAdapter(const ExecutionPolicy& policy) : executor_(*this, policy) {}
    uint16_t ReplyBase() const { return executor_.ReplyBase(); }

  private:
    BootCommandExecutor executor_;
};

}  // namespace orv
