#include "link/portdiscovery.h"

#include <QSerialPortInfo>

#include <algorithm>
#include <cctype>
#include <cstdlib>

namespace mb::port {

std::vector<std::string> candidatePorts() {
    std::vector<std::string> out;
    auto add = [&out](std::string p) {
        if (!p.empty() && std::find(out.begin(), out.end(), p) == out.end()) out.push_back(std::move(p));
    };
    for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts())
        add(info.systemLocation().toStdString());
    if (const char* extra = std::getenv("MB_EXTRA_PORTS")) {
        std::string s(extra);
        std::size_t start = 0;
        while (start <= s.size()) {
            const std::size_t end = std::min(s.find(':', start), s.size());
            add(s.substr(start, end - start));
            start = end + 1;
        }
    }
    return out;
}

bool naturalLess(const std::string& a, const std::string& b) {
    std::size_t i = 0, j = 0;
    auto digit = [](char c) { return std::isdigit(static_cast<unsigned char>(c)) != 0; };
    while (i < a.size() && j < b.size()) {
        if (digit(a[i]) && digit(b[j])) {
            std::size_t ie = i, je = j;
            while (ie < a.size() && digit(a[ie]))
                ++ie;
            while (je < b.size() && digit(b[je]))
                ++je;
            // Compare the numbers without converting: skip leading zeros, then length, then digits.
            std::size_t is = i, js = j;
            while (is + 1 < ie && a[is] == '0')
                ++is;
            while (js + 1 < je && b[js] == '0')
                ++js;
            if (ie - is != je - js) return ie - is < je - js;
            const int c = a.compare(is, ie - is, b, js, je - js);
            if (c != 0) return c < 0;
            if (ie - i != je - j) return ie - i < je - j; // "01" after "1": keep the order total
            i = ie;
            j = je;
        } else {
            if (a[i] != b[j]) return static_cast<unsigned char>(a[i]) < static_cast<unsigned char>(b[j]);
            ++i;
            ++j;
        }
    }
    return a.size() - i < b.size() - j;
}

std::vector<std::string> buildPortList(const std::vector<std::string>& candidates,
                                       const std::function<bool(const std::string&)>& probe,
                                       const std::string& openPort) {
    std::vector<std::string> found;
    for (const std::string& c : candidates) {
        if (c == openPort || std::find(found.begin(), found.end(), c) != found.end()) continue;
        if (probe(c)) found.push_back(c);
    }
    std::sort(found.begin(), found.end(), naturalLess);
    std::reverse(found.begin(), found.end());
    if (!openPort.empty()) found.push_back(openPort);
    return found;
}

} // namespace mb::port
