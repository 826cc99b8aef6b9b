// Native parse-and-sort time of race list bodies: the Windows-free part of a list's arrival
// (parsing, newest-first order), without the time texts and the list view.
// Prints one line per size: races, median and best microseconds over the runs.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string_view>
#include <vector>

#include "games/race_list.h"
#include "games/row_order.h"
#include "race_lists.h"

int main() {
    constexpr int kRuns = 21;
    std::printf("%8s %14s %14s %14s\n", "races", "parse us", "sort us", "total us");
    for (std::size_t count : {100u, 1000u, 10000u}) {
        const std::string body = raceListBody(1007000000, randomRaces(count, 42));
        const std::string_view payload = std::string_view(body).substr(3);
        std::vector<double> parse, sort, total;
        for (int run = 0; run < kRuns; ++run) {
            auto t0 = std::chrono::steady_clock::now();
            RaceListPayload list = parseRaceListPayload(payload);
            auto t1 = std::chrono::steady_clock::now();
            std::vector<std::uint32_t> order;
            orderRows(list.races, 2, order);
            auto t2 = std::chrono::steady_clock::now();
            if (!list.complete || order.size() != count) return 1;
            parse.push_back(std::chrono::duration<double, std::micro>(t1 - t0).count());
            sort.push_back(std::chrono::duration<double, std::micro>(t2 - t1).count());
            total.push_back(std::chrono::duration<double, std::micro>(t2 - t0).count());
        }
        auto median = [](std::vector<double> v) {
            std::sort(v.begin(), v.end());
            return v[v.size() / 2];
        };
        std::printf("%8zu %14.1f %14.1f %14.1f\n", count, median(parse), median(sort), median(total));
    }
    return 0;
}
