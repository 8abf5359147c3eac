// The estimates file (ESTOUT) and the SAS program that reads it.
//
// Fixed records of (number of by variables + p) x 8 + 24 bytes: the by values, _MODEL_
// ("SIMPLE  " without a design, "JACK    " with one), _TYPE_ ("PARMS   " for the estimates,
// "COV     " for the covariance rows), _NAME_ (blank, or "_X<i>_" for covariance row i), then
// p doubles. Each result writes its estimate row and then its p covariance rows.
#pragma once

#include <string>
#include <vector>

#include "poolfit/pooling.h"
#include "poolfit/settings.h"

// Bytes per record of the estimates file.
int estimates_record_length(const PoolfitSettings& settings, std::size_t parameters);

// The estimates file's records of `results`, field by field.
std::vector<char> estimates_records(const std::vector<PooledResult>& results, const PoolfitSettings& settings);

// Writes the estimates file and its SAS program (".est" and ".out" beside the setup), each
// under a temporary name until it is complete.
void write_estimates(const std::vector<PooledResult>& results, const PoolfitSettings& settings, std::size_t parameters);
