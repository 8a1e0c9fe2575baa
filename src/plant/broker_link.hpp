#pragma once
// The plant publisher's connection to its MQTT broker, as the publisher needs it: connect,
// publish, hear the broker's acknowledgements, and hear when the connection is up or gone.
// MosquittoLink (libmosquitto on the station's loop) is the one the station uses.
#include <functional>
#include <string>

namespace shoplink {

class BrokerLink {
 public:
  struct Handlers {
    std::function<void()> connected;                   // the broker accepted us
    std::function<void(const std::string& why)> lost;  // the attempt failed or the link broke
    std::function<void(int message_id)> acknowledged;  // a QoS 1 message's PUBACK
  };
  virtual ~BrokerLink() = default;
  virtual void set_handlers(Handlers h) = 0;
  // Starts one attempt; its outcome comes through `connected` or `lost`, never from inside
  // this call.
  virtual void connect() = 0;
  // Queues a message on the connection; its id (for QoS 1), or -1 when there is no
  // connection or the message cannot go.
  virtual int publish(const std::string& topic, const std::string& payload, int qos,
                      bool retain) = 0;
  // Says goodbye (so the broker does not send the last will) and waits a moment for what is
  // queued to leave; then closed.
  virtual void disconnect() = 0;
  virtual bool is_connected() const = 0;
};

}  // namespace shoplink
