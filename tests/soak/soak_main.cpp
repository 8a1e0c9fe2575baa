// `shoplink_soak --hours N [--seed S]`: the soak shop for N virtual hours; prints the figures
// and exits 1 on any failure. `--plant-outage`: with the journal and the plant publisher, its
// broker away the whole time, for the outbox's growth an hour of outage.
#include <CLI/CLI.hpp>
#include <chrono>
#include <cstdio>

#include "journal/journal.hpp"
#include "plant/plant_publisher.hpp"
#include "support/soak_shop.hpp"

namespace {

// A broker that never answers: every attempt fails a moment later.
struct AwayBroker final : shoplink::BrokerLink {
  explicit AwayBroker(shoplink::EventLoop& l) : loop(l) {}
  void set_handlers(Handlers handlers) override { h = std::move(handlers); }
  void connect() override {
    loop.post_after(shoplink::millis(10), [this] { h.lost("connection refused"); });
  }
  int publish(const std::string&, const std::string&, int, bool) override { return -1; }
  void disconnect() override {}
  bool is_connected() const override { return false; }
  shoplink::EventLoop& loop;
  Handlers h;
};

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"ShopLink soak: eight busy simulated machines on virtual time"};
  double hours = 24;
  unsigned seed = 1;
  int hold = 0;
  app.add_option("--hours", hours, "virtual hours to run")->check(CLI::PositiveNumber);
  app.add_option("--seed", seed, "seed of the machines' choices");
  app.add_option("--hold", hold, "ms the scan holds each machine before leaving its port (0: none)")
      ->check(CLI::NonNegativeNumber);
  bool outage = false;
  app.add_flag("--plant-outage", outage, "journal and plant publisher on, the broker away");
  CLI11_PARSE(app, argc, argv);

  const auto t0 = std::chrono::steady_clock::now();
  shoplink::testing::SoakShop shop(seed, hold);
  std::unique_ptr<shoplink::Journal> journal;
  std::unique_ptr<shoplink::PlantPublisher> plant;
  if (outage) {
    shoplink::Station& s = shop.fixture().s();
    shoplink::PlantSettings p;
    p.url = "mqtt://192.0.2.1:1883";
    p.broker = {"192.0.2.1", 1883, false};
    p.topic = "shoplink/soak";
    journal = std::make_unique<shoplink::Journal>(s, shoplink::JournalSettings{});
    plant = std::make_unique<shoplink::PlantPublisher>(
        s, p, std::make_unique<AwayBroker>(shop.fixture().loop), journal.get(), nullptr);
  }
  const auto fig = shop.run(hours, true);
  const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();

  std::printf("\nvirtual hours        %.2f (wall %.1f s)\n", fig.hours, wall);
  std::printf(
      "programs checked     %ld (requests %ld, not found %ld, listings %ld, queue files %ld)\n",
      fig.programs_checked(), fig.requests, fig.not_found, fig.listings, fig.queued);
  std::printf("uploads checked      %ld\n", fig.uploads);
  std::printf("activity events      %ld\n", fig.events);
  std::printf("machine Xoffs        %ld\n", fig.xoffs);
  std::printf("log                  max %ld bytes, limit %ld\n", fig.log_max, fig.log_limit);
  std::printf("longest out of scan  %.1f s\n", fig.longest_away_ms / 1000.0);
  std::printf("RSS                  peak %ld kB, growth after the first hour %.1f kB/h\n",
              fig.peak_rss_kb(), fig.rss_growth_kb_per_hour());
  std::printf("descriptors          %d at start, %d at end, %s after the first hour\n",
              fig.samples.front().fds, fig.samples.back().fds,
              fig.fds_flat() ? "flat" : "NOT flat");
  if (plant)
    std::printf("plant outbox         %lld messages waiting, %.0f an hour of outage (limit %lld)\n",
                static_cast<long long>(plant->outbox().size()),
                static_cast<double>(plant->outbox().size()) / fig.hours,
                static_cast<long long>(plant->outbox().limit()));
  for (const auto& f : fig.failures) std::printf("FAILURE %s\n", f.c_str());
  const bool ok = fig.failures.empty() && fig.fds_flat() && fig.log_max <= fig.log_limit;
  std::printf("%s\n", ok ? "PASS" : "FAIL");
  return ok ? 0 : 1;
}
