// The design of a sample as the observations give it: strata and clusters, identified by the
// exact 8 bytes of their STRATUM and CLUSTER values in order of first appearance, and the
// sampling weights; and the bootstrap weights of one cluster draw.
#pragma once

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

// Where the design variables lie in an observation record (field numbers, -1 when not given).
struct DesignFields {
  int stratum = -1;
  int cluster = -1;
  int weight = -1;
};

class SampleDesign {
 public:
  // `missing` is the 8-byte missing-value code of the data file; `path` names it in messages.
  SampleDesign(DesignFields fields, const char* missing, std::string path);

  // Takes the next observation's record.
  void add(const char* record);

  bool has_strata() const { return fields_.stratum >= 0; }
  bool has_clusters() const { return fields_.cluster >= 0; }
  std::int64_t observations() const { return observations_; }
  int strata() const { return static_cast<int>(strata_.size()); }
  std::int64_t clusters() const { return clusters_; }

  // Logs every stratum with fewer than two clusters ("No clusters for stratum %g", "One
  // clusters for stratum %g", a text stratum as 8 characters) and ends the run with "Cluster
  // errors" when there was one. Only with STRATUM and CLUSTER.
  void check_clusters(bool text_strata) const;

  // One cluster draw: the replicate counts of the units of every stratum.
  void draw_clusters(std::int32_t& seed);
  // The bootstrap weight of every observation after the last cluster draw (the sampling weights
  // themselves without strata and clusters).
  std::vector<double> bootstrap_weights() const;

 private:
  struct Stratum {
    std::uint64_t key = 0;                   // the STRATUM value's bytes
    std::int64_t units = 0;                  // clusters, or observations without CLUSTER
    std::unordered_map<std::uint64_t, std::int64_t> cluster_of;  // CLUSTER bytes -> unit
    std::vector<std::int64_t> counts;        // replicate count of each unit
  };

  // The stratum of a STRATUM value (the only one without STRATUM), created when new.
  std::size_t stratum_of(const char* record);
  // The sampling weight of the current observation: finite and not negative.
  double checked_weight(const char* field) const;

  DesignFields fields_;
  std::uint64_t missing_ = 0;           // the missing-value code's bytes
  std::string path_;                    // the data file, for messages
  std::int64_t observations_ = 0;
  std::int64_t clusters_ = 0;           // clusters over all strata
  std::vector<Stratum> strata_;
  std::unordered_map<std::uint64_t, std::size_t> stratum_index_;
  std::vector<std::uint32_t> obs_stratum_;  // per observation its stratum
  std::vector<std::int64_t> obs_unit_;      // per observation its unit within the stratum
  std::vector<double> weights_;             // per observation its sampling weight (with WEIGHT)
  double weight_sum_ = 0;                   // sum of the sampling weights
  std::vector<std::int64_t> order_;         // scratch of the cluster draw
};
