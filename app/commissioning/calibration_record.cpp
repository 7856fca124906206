#include "calibration_record.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <nlohmann/json.hpp>
#include <sstream>

#include "config_names.h"
#include "folders.h"
#include "machine_text.h"

namespace {

using Json = nlohmann::ordered_json;

double Rounded(double value, int decimals) {
    const double scale = std::pow(10.0, decimals);
    const double r = std::round(value * scale) / scale;
    return r == 0 ? 0 : r;  // never "-0"
}

Json ConfigObject(const ConfigValues &config) {
    Json j;
    for (size_t i = 0; i < kConfigValueCount; ++i)
        j[kConfigNames[i].channel][kConfigNames[i].name] = config[i];
    return j;
}

Json PointsArray(const std::vector<CalPoint> &points) {
    Json list = Json::array();
    for (const CalPoint &p : points) {
        Json j;
        j["nominal_mA"] = Rounded(p.nominalMa, 3);
        j["applied_mA"] = Rounded(p.appliedMa, 3);
        j["adc"] = Rounded(p.adc, 2);
        j["mA"] = Rounded(p.foundMa, 3);
        j["display"] = Rounded(p.display, 3);
        j["expected_display"] = Rounded(p.expectedDisplay, 3);
        j["error_pct_span"] = Rounded(p.errorPctSpan, 3);
        j["steady"] = p.steady;
        j["pass"] = p.pass;
        list.push_back(j);
    }
    return list;
}

const char *VerdictWord(const std::optional<bool> &verdict) {
    return !verdict ? "" : *verdict ? "pass" : "fail";
}

// Free text into HTML: every character that could end an element or an
// attribute written as an entity.
std::string Escaped(const std::string &text) {
    std::string out;
    for (char c : text) {
        switch (c) {
            case '&': out += "&amp;"; break;
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            case '"': out += "&quot;"; break;
            case '\'': out += "&#39;"; break;
            case '\0': break;
            default: out += c;
        }
    }
    return out;
}

std::string Fixed(double value, int decimals) {
    return FixedText(value, decimals);
}

void PointsTable(std::ostringstream &html, const char *title, const std::vector<CalPoint> &points) {
    html << "<section><h2>" << title << "</h2>\n<table class=\"points\"><tr><th>Nominal mA</th>"
         << "<th>Applied mA</th><th>Counts</th><th>Display found</th><th>Display expected</th>"
         << "<th>Error % span</th><th>Result</th></tr>\n";
    for (const CalPoint &p : points) {
        html << "<tr><td>" << Fixed(p.nominalMa, 3) << "</td><td>" << Fixed(p.appliedMa, 3)
             << "</td><td>" << Fixed(p.adc, 1) << "</td><td>" << Fixed(p.display, 3) << "</td><td>"
             << Fixed(p.expectedDisplay, 3) << "</td><td>" << Fixed(p.errorPctSpan, 3)
             << "</td><td class=\"" << (p.pass ? "pass\">pass" : "fail\">fail")
             << (p.steady ? "" : " (unsteady)") << "</td></tr>\n";
    }
    html << "</table></section>\n";
}

// Error in % of span against the applied current, as found and as left,
// with the tolerance band: inline SVG, so the page needs nothing else.
void ErrorPlot(std::ostringstream &html, const CalRecord &r) {
    constexpr double w = 640, h = 220, left = 60, right = 20, top = 20, bottom = 40;
    double range = r.tolerancePct * 2;
    for (const auto *points : {&r.asFound, &r.asLeft})
        for (const CalPoint &p : *points) range = std::max(range, std::abs(p.errorPctSpan) * 1.1);
    const auto x = [&](double mA) { return left + (mA - 2.0) / 20.0 * (w - left - right); };
    const auto y = [&](double pct) { return top + (range - pct) / (2 * range) * (h - top - bottom); };
    html << "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" << w << "\" height=\"" << h
         << "\" viewBox=\"0 0 " << w << " " << h << "\">\n"
         << "<rect x=\"" << left << "\" y=\"" << Fixed(y(r.tolerancePct), 2) << "\" width=\""
         << w - left - right << "\" height=\"" << Fixed(y(-r.tolerancePct) - y(r.tolerancePct), 2)
         << "\" fill=\"#dff0d8\"/>\n"
         << "<line x1=\"" << left << "\" y1=\"" << Fixed(y(0), 2) << "\" x2=\"" << w - right
         << "\" y2=\"" << Fixed(y(0), 2) << "\" stroke=\"#888\"/>\n";
    for (int mA = 4; mA <= 20; mA += 4)
        html << "<text x=\"" << Fixed(x(mA), 1) << "\" y=\"" << h - bottom + 16
             << "\" text-anchor=\"middle\" font-size=\"12\">" << mA << "</text>\n";
    for (double pct : {range, range / 2, 0.0, -range / 2, -range})
        html << "<text x=\"" << left - 6 << "\" y=\"" << Fixed(y(pct) + 4, 1)
             << "\" text-anchor=\"end\" font-size=\"12\">" << Fixed(pct, 2) << "</text>\n";
    html << "<text x=\"" << Fixed((left + w - right) / 2, 1) << "\" y=\"" << h - 6
         << "\" text-anchor=\"middle\" font-size=\"12\">applied mA</text>\n"
         << "<text x=\"14\" y=\"" << Fixed(top + (h - top - bottom) / 2, 1)
         << "\" font-size=\"12\" transform=\"rotate(-90 14 " << Fixed(top + (h - top - bottom) / 2, 1)
         << ")\" text-anchor=\"middle\">error % span</text>\n";
    const auto curve = [&](std::vector<CalPoint> points, const char *colour, const char *name) {
        if (points.empty()) return;
        // The line runs along the current, whatever order the points were taken in.
        std::sort(points.begin(), points.end(),
                  [](const CalPoint &a, const CalPoint &b) { return a.appliedMa < b.appliedMa; });
        html << "<polyline class=\"" << name << "\" fill=\"none\" stroke=\"" << colour << "\" points=\"";
        for (const CalPoint &p : points)
            html << Fixed(x(p.appliedMa), 2) << "," << Fixed(y(p.errorPctSpan), 2) << " ";
        html << "\"/>\n";
        for (const CalPoint &p : points)
            html << "<circle cx=\"" << Fixed(x(p.appliedMa), 2) << "\" cy=\"" << Fixed(y(p.errorPctSpan), 2)
                 << "\" r=\"4\" fill=\"" << colour << "\"/>\n";
    };
    curve(r.asFound, "#c0392b", "as-found");
    curve(r.asLeft, "#1f5fbf", "as-left");
    html << "</svg>\n<p class=\"legend\"><span style=\"color:#c0392b\">&#9679; as found</span> "
         << "<span style=\"color:#1f5fbf\">&#9679; as left</span> "
         << "<span style=\"background:#dff0d8\">&nbsp;tolerance &#177;" << Fixed(r.tolerancePct, 3)
         << " % of span&nbsp;</span></p>\n";
}

void ConfigRow(std::ostringstream &html, const char *what, const ConfigValues &config, int channel) {
    const ChannelRanges c = ChannelOf(config, channel);
    html << "<tr><th>" << what << "</th><td>" << c.refMin << "</td><td>" << c.refMax << "</td><td>"
         << c.dispMin << "</td><td>" << c.dispMax << "</td></tr>\n";
}

}  // namespace

ChannelRanges ChannelOf(const ConfigValues &config, int channel) {
    return RangesOf(config)[static_cast<size_t>(channel == 2 ? 1 : 0)];
}

std::optional<CalPoint> Evaluate(const ChannelRanges &ranges, double nominalMa, double appliedMa,
                                 double adc, double tolerancePct) {
    const double span = double(ranges.dispMax) - ranges.dispMin;
    const auto derived = Derive(ranges, adc);
    if (span == 0 || !derived) return std::nullopt;
    CalPoint p;
    p.nominalMa = nominalMa;
    p.appliedMa = appliedMa;
    p.adc = adc;
    p.foundMa = derived->milliamps;
    p.display = derived->display;
    p.expectedDisplay = ranges.dispMin + span * (appliedMa - 4.0) / 16.0;
    p.errorPctSpan = (p.display - p.expectedDisplay) / span * 100.0;
    // Judged on the error as the record shows it.
    p.pass = std::abs(Rounded(p.errorPctSpan, 3)) <= tolerancePct;
    return p;
}

std::optional<bool> Verdict(const std::vector<CalPoint> &points) {
    if (points.empty()) return std::nullopt;
    return std::all_of(points.begin(), points.end(), [](const CalPoint &p) { return p.pass; });
}

std::optional<ChannelRanges> AdjustedRanges(const std::vector<CalPoint> &points,
                                            const ChannelRanges &ranges) {
    const double n = static_cast<double>(points.size());
    double sx = 0, sy = 0, sxx = 0, sxy = 0;
    for (const CalPoint &p : points) {
        sx += p.appliedMa, sy += p.adc;
        sxx += p.appliedMa * p.appliedMa, sxy += p.appliedMa * p.adc;
    }
    const double d = n * sxx - sx * sx;
    if (points.size() < 2 || std::abs(d) < 1e-9) return std::nullopt;
    const double slope = (n * sxy - sx * sy) / d, offset = (sy - slope * sx) / n;
    const double at4 = std::round(offset + slope * 4.0), at20 = std::round(offset + slope * 20.0);
    if (at4 < 0 || at4 > 65535 || at20 < 0 || at20 > 65535 || at4 == at20) return std::nullopt;
    ChannelRanges adjusted = ranges;
    adjusted.refMin = static_cast<uint16_t>(at4);
    adjusted.refMax = static_cast<uint16_t>(at20);
    return adjusted;
}

ConfigValues WithChannel(ConfigValues config, int channel, const ChannelRanges &ranges) {
    const size_t at = channel == 2 ? 4 : 0;
    config[at] = ranges.refMin;
    config[at + 1] = ranges.refMax;
    config[at + 2] = ranges.dispMin;
    config[at + 3] = ranges.dispMax;
    return config;
}

std::vector<double> ParsePoints(const std::string &text, std::string &error) {
    std::vector<double> points;
    std::stringstream list(text);
    std::string item;
    while (std::getline(list, item, ',')) {
        char *end = nullptr;
        const double mA = std::strtod(item.c_str(), &end);
        if (item.empty() || *end != '\0' || !std::isfinite(mA) || mA < kCalMinMa || mA > kCalMaxMa) {
            error = "a test point must be a current from 3.6 to 21 mA, not '" + item + "'";
            return {};
        }
        if (std::find(points.begin(), points.end(), mA) != points.end()) {
            error = "the test point " + Fixed(mA, 3) + " mA is named twice";
            return {};
        }
        points.push_back(mA);
    }
    if (points.empty() || text.back() == ',') {
        error = "test points are currents in mA with commas between, not '" + text + "'";
        return {};
    }
    return points;
}

std::string RecordJson(const CalRecord &r, bool oneLine) {
    Json j;
    j["tag"] = r.tag;
    j["channel"] = r.channel;
    j["time"] = r.time;
    j["operator"] = r.operatorName;
    j["reference"] = r.reference;
    j["tolerance_pct_span"] = r.tolerancePct;
    j["config_before"] = ConfigObject(r.configBefore);
    if (r.configAfter) j["config_after"] = ConfigObject(*r.configAfter);
    j["as_found"] = PointsArray(r.asFound);
    if (r.passAsFound) j["verdict_as_found"] = VerdictWord(r.passAsFound);
    if (!r.asLeft.empty()) j["as_left"] = PointsArray(r.asLeft);
    if (r.passAsLeft) j["verdict_as_left"] = VerdictWord(r.passAsLeft);
    j["complete"] = r.complete;
    if (!r.stopReason.empty()) j["stopped"] = r.stopReason;
    // Free texts are whatever was typed: a byte that is not UTF-8 is replaced.
    return j.dump(oneLine ? -1 : 2, ' ', false, Json::error_handler_t::replace) + "\n";
}

std::string RecordHtml(const CalRecord &r) {
    std::ostringstream html;
    html << "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">\n<title>Calibration "
         << Escaped(r.tag) << " CH." << r.channel << "</title>\n<style>\n"
         << "@page { size: A4; margin: 15mm; }\n"
         << "body { font-family: sans-serif; font-size: 10pt; color: #000; max-width: 180mm; }\n"
         << "h1 { font-size: 15pt; } h2 { font-size: 12pt; margin-top: 1.2em; }\n"
         << "table { border-collapse: collapse; } th, td { border: 1px solid #999; padding: 2px 6px; }\n"
         << "td { text-align: right; } .facts td { text-align: left; }\n"
         << ".pass { color: #1e7b1e; font-weight: bold; } .fail { color: #b00; font-weight: bold; }\n"
         // A heading printed at the foot of a page without what it heads
         // helps no auditor.
         << "section { break-inside: avoid; page-break-inside: avoid; } svg { display: block; }\n"
         << "</style></head><body>\n<h1>Calibration record</h1>\n<table class=\"facts\">\n"
         << "<tr><th>Device tag</th><td>" << Escaped(r.tag) << "</td></tr>\n"
         << "<tr><th>Channel</th><td>CH." << r.channel << "</td></tr>\n"
         << "<tr><th>Date and time</th><td>" << Escaped(r.time) << "</td></tr>\n"
         << "<tr><th>Operator</th><td>" << Escaped(r.operatorName) << "</td></tr>\n"
         << "<tr><th>Reference instrument</th><td>" << Escaped(r.reference) << "</td></tr>\n"
         << "<tr><th>Tolerance</th><td>&#177;" << Fixed(r.tolerancePct, 3) << " % of span</td></tr>\n";
    const auto verdict = [&](const char *what, const std::optional<bool> &v) {
        if (v)
            html << "<tr><th>" << what << "</th><td class=\"" << VerdictWord(v) << "\">"
                 << VerdictWord(v) << "</td></tr>\n";
    };
    verdict("Verdict as found", r.passAsFound);
    verdict("Verdict as left", r.passAsLeft);
    if (!r.complete)
        html << "<tr><th>Incomplete</th><td class=\"fail\">" << Escaped(r.stopReason) << "</td></tr>\n";
    html << "</table>\n<h2>Configuration of CH." << r.channel << "</h2>\n<table><tr><th></th>"
         << "<th>ADC ref min</th><th>ADC ref max</th><th>Display min</th><th>Display max</th></tr>\n";
    ConfigRow(html, "Before", r.configBefore, r.channel);
    if (r.configAfter) ConfigRow(html, "After", *r.configAfter, r.channel);
    html << "</table>\n";
    PointsTable(html, "As found", r.asFound);
    if (!r.asLeft.empty()) PointsTable(html, "As left", r.asLeft);
    html << "<section><h2>Error</h2>\n";
    ErrorPlot(html, r);
    html << "</section>\n</body></html>\n";
    return html.str();
}

std::string RecordBaseName(const CalRecord &r) {
    std::string tag;
    for (char c : r.tag) {
        const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                           c == '-' || c == '_';
        tag += plain ? c : '_';
    }
    if (tag.empty()) tag = "device";
    // CON, PRN, AUX, NUL, COM1-9 and LPT1-9 name devices on Windows, with
    // any extension after them.
    std::string upper;
    for (char c : tag) upper += static_cast<char>(c >= 'a' && c <= 'z' ? c - 32 : c);
    const bool device = upper == "CON" || upper == "PRN" || upper == "AUX" || upper == "NUL" ||
                        ((upper.starts_with("COM") || upper.starts_with("LPT")) && upper.size() == 4 &&
                         upper[3] >= '1' && upper[3] <= '9');
    if (device) tag = "_" + tag;
    if (tag.size() > 64) tag.resize(64);
    std::string stamp;
    for (char c : r.time.substr(0, 19))
        if (c >= '0' && c <= '9') stamp += c;
    if (stamp.size() == 14) stamp.insert(8, "-");
    return tag + "_CH" + std::to_string(r.channel) + "_" + stamp;
}

std::string DefaultRecordFolder() {
    const std::string data = UserDataFolder();
    if (data.empty()) return {};
    const char separator = data.back();
    return data + "records" + separator;
}
