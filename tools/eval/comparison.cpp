#include "comparison.h"

#include <cmath>
#include <map>
#include <sstream>

#include <boost/property_tree/json_parser.hpp>
#include <boost/property_tree/ptree.hpp>

namespace litterpose_eval {
namespace {

namespace pt = boost::property_tree;

// The preparations of a scene's outcomes, and the cell figure that is a timing.
const char* const kPreparationKeys[] = {"default", "robust", "gripper"};
const char* const kEntryNames[] = {"GrabPoseEstimateFunc", "CommonGrabPoseFunc",
                                   "GetInitialGrabPose"};
constexpr char kTiming[] = "ms_per_estimate";
// Differences listed one by one; the rest are counted.
constexpr std::size_t kListed = 20;

// A JSON value as it was written: "[1,true,12.3]".
std::string written(const pt::ptree& value) {
  if (value.empty()) return value.data();
  std::string s = "[";
  for (const auto& [key, child] : value) s += (s.size() > 1 ? "," : "") + written(child);
  return s + "]";
}

std::vector<const pt::ptree*> items(const pt::ptree& array) {
  std::vector<const pt::ptree*> v;
  for (const auto& child : array) v.push_back(&child.second);
  return v;
}

// The same code and success, and both centre errors given and within kNearCentreMm.
bool near(const pt::ptree& a, const pt::ptree& b) {
  const auto x = items(a), y = items(b);
  if (x.size() != 3 || y.size() != 3 || x[0]->data() != y[0]->data() ||
      x[1]->data() != y[1]->data())
    return false;
  try {
    return std::fabs(std::stod(x[2]->data()) - std::stod(y[2]->data())) <= kNearCentreMm;
  } catch (const std::exception&) {
    return false;  // no centre error: they differ in something else
  }
}

const pt::ptree* profileNamed(const pt::ptree& report, const std::string& artefacts) {
  for (const auto& [key, profile] : report.get_child("profiles"))
    if (profile.get<std::string>("artefacts") == artefacts) return &profile;
  return nullptr;
}

// The outcomes of the scenes numbered below n, by number.
std::map<int, const pt::ptree*> byScene(const pt::ptree& outcomes, int n) {
  std::map<int, const pt::ptree*> scenes;
  for (const pt::ptree* scene : items(outcomes)) {
    const int index = scene->get<int>("scene");
    if (index < n) scenes[index] = scene;
  }
  return scenes;
}

class Comparer {
public:
  explicit Comparer(Comparison& c) : c_(c) {}

  void difference(const std::string& what) {
    if (c_.differences.size() < kListed) c_.differences.push_back(what);
  }

  // Scene by scene number: a run leaves out the scenes it finds no place for.
  void scenes(const std::string& profile, const pt::ptree& run, const pt::ptree& record, int n) {
    const auto now = byScene(run, n);
    const auto then = byScene(record, n);
    for (int i = 0; i < n; ++i) {
      const auto x = now.find(i), y = then.find(i);
      if (x == now.end() && y == then.end()) continue;
      const std::string where = profile + ", scene " + std::to_string(i);
      c_.estimates += 9;
      if (x == now.end() || y == then.end()) {
        c_.differing_estimates += 9;
        difference(where + (x == now.end() ? ": placed when recorded, left out now"
                                           : ": left out when recorded, placed now"));
        continue;
      }
      const pt::ptree& a = *x->second;
      const pt::ptree& b = *y->second;
      if (a.get<std::string>("class") != b.get<std::string>("class") ||
          a.get_child("expected") != b.get_child("expected")) {
        c_.differing_estimates += 9;
        difference(where + ": " + b.get<std::string>("class") + " expecting " +
                   written(b.get_child("expected")) + " recorded, " +
                   a.get<std::string>("class") + " expecting " +
                   written(a.get_child("expected")) + " now");
        continue;
      }
      for (const char* preparation : kPreparationKeys) {
        const auto x = items(a.get_child(preparation));
        const auto y = items(b.get_child(preparation));
        for (std::size_t e = 0; e < x.size() && e < y.size(); ++e) {
          if (*x[e] == *y[e]) continue;
          ++c_.differing_estimates;
          if (near(*x[e], *y[e])) ++c_.near_estimates;
          difference(where + ", " + kEntryNames[e] + ", " + preparation + " preparation: " +
                     written(*y[e]) + " recorded, " + written(*x[e]) + " now (result, grasped, "
                     "centre error mm)");
        }
      }
    }
  }

  void cells(const std::string& profile, const pt::ptree& run, const pt::ptree& record) {
    const auto now = items(run);
    const auto then = items(record);
    for (std::size_t k = 0; k < now.size() && k < then.size(); ++k) {
      const auto entries_now = items(now[k]->get_child("entries"));
      const auto entries_then = items(then[k]->get_child("entries"));
      for (std::size_t e = 0; e < entries_now.size() && e < entries_then.size(); ++e) {
        for (const char* preparation : kPreparationKeys) {
          for (const auto& [figure, value] : entries_now[e]->get_child(preparation)) {
            if (figure == kTiming) continue;
            const auto recorded =
                entries_then[e]->get_child(preparation).get_optional<std::string>(figure);
            if (recorded && *recorded == value.data()) continue;
            ++c_.differing_figures;
            difference(profile + ", " + now[k]->get<std::string>("class") + ", " +
                       entries_now[e]->get<std::string>("entry") + ", " + preparation + ": " +
                       figure + " " + (recorded ? *recorded : "absent") + " recorded, " +
                       value.data() + " now");
          }
        }
      }
    }
  }

private:
  Comparison& c_;
};

Comparison notComparable(const std::string& why) {
  Comparison c;
  c.comparable = false;
  c.why_not = why;
  return c;
}

}  // namespace

bool Comparison::matches(int tolerated) const {
  if (tolerated == 0) return comparable && differing_estimates == 0 && differing_figures == 0;
  return comparable && differing_estimates - near_estimates <= tolerated;
}

std::string Comparison::summary(const std::string& record_path, int tolerated) const {
  std::ostringstream s;
  s << "Compared with " << record_path << ": " << profiles << " profiles, the first " << scenes
    << " scenes of each, " << estimates << " estimates: " << differing_estimates << " differ";
  if (tolerated > 0)
    s << " (" << near_estimates << " by a centre within " << kNearCentreMm << " mm; "
      << tolerated << " more tolerated)";
  if (cells_compared) s << "; " << differing_figures << " figures of the cells differ";
  s << (matches(tolerated) ? ": the same." : ": NOT the same.");
  return s.str();
}

Comparison compareWithRecord(const std::string& report_json, const std::string& record_path) {
  pt::ptree run, record;
  try {
    std::istringstream in(report_json);
    pt::read_json(in, run);
    pt::read_json(record_path, record);
  } catch (const pt::json_parser_error& e) {
    return notComparable(e.what());
  }
  try {
    for (const char* setting : {"seed", "criteria", "window_margins"})
      if (run.get_child(setting) != record.get_child(setting))
        return notComparable(std::string("it was made with another ") + setting);
    if (run.get_child("depth_camera", pt::ptree()) != record.get_child("depth_camera", pt::ptree()))
      return notComparable("it was made with another depth camera");
    const int scenes = run.get<int>("scenes");
    const int recorded = record.get<int>("scenes");
    if (scenes > recorded)
      return notComparable("it holds " + std::to_string(recorded) + " scenes per profile, fewer "
                           "than the " + std::to_string(scenes) + " of this run");

    Comparison c;
    c.scenes = scenes;
    c.cells_compared = scenes == recorded;
    Comparer compare(c);
    for (const auto& [key, profile] : run.get_child("profiles")) {
      const std::string name = profile.get<std::string>("artefacts");
      const pt::ptree* then = profileNamed(record, name);
      if (then == nullptr) return notComparable("it has no " + name + " profile");
      const auto outcomes = then->get_child_optional("scene_outcomes");
      const std::size_t left_out = then->get_child("scenes_left_out", pt::ptree()).size();
      if (!outcomes || static_cast<int>(outcomes->size() + left_out) < recorded)
        return notComparable("its " + name + " profile lacks the outcomes of its scenes");
      ++c.profiles;
      compare.scenes(name, profile.get_child("scene_outcomes"), *outcomes, scenes);
      if (c.cells_compared)
        compare.cells(name, profile.get_child("classes"), then->get_child("classes"));
    }
    return c;
  } catch (const pt::ptree_error& e) {
    return notComparable(std::string("it is not a report of litterpose-eval: ") + e.what());
  }
}

}  // namespace litterpose_eval
