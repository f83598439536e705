// The platform marker catalogue: one row per marker, in catalogue order.
//
// Pure data, no Python: the host binding turns each row into a call of the
// sibling module's `Marker` record.  Nothing here is compiled or matched.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

namespace quorvane::dialectra {

// The ten platforms, in the canonical order (also the order in which the
// host binding imports their identifiers).
enum class Platform : std::uint8_t {
    Databricks,
    Snowflake,
    PostgreSQL,
    MySQL,
    SQLServer,
    Oracle,
    Redshift,
    BigQuery,
    Teradata,
    Hive,
};

inline constexpr std::size_t kPlatformCount = 10;

// Names of the identifiers of the platform vocabulary module, indexed by Platform.
inline constexpr std::array<std::string_view, kPlatformCount> kPlatformIdentifierNames = {
    "PLATFORM_DATABRICKS", "PLATFORM_SNOWFLAKE", "PLATFORM_POSTGRESQL", "PLATFORM_MYSQL",
    "PLATFORM_SQLSERVER",  "PLATFORM_ORACLE",    "PLATFORM_REDSHIFT",   "PLATFORM_BIGQUERY",
    "PLATFORM_TERADATA",   "PLATFORM_HIVE",
};

// Whether a row passes `corroborating_only`, and with which value.
enum class Corroborating : std::uint8_t { NotGiven, False, True };

inline constexpr std::size_t kMaxPlatformsPerMarker = 7;

struct MarkerRow {
    std::string_view id;
    std::array<Platform, kMaxPlatformsPerMarker> platforms;  // first `platform_count` are used
    std::uint8_t platform_count;
    std::string_view confidence;  // "high" or "medium"
    std::string_view scope;       // empty: the row passes no `scope`
    Corroborating corroborating;
    std::string_view pattern;     // regular-expression source, exactly as catalogued

    constexpr std::span<const Platform> platform_list() const {
        return {platforms.data(), platform_count};
    }
};

inline constexpr std::size_t kMarkerCount = 133;

// The catalogue, in order (defined in markers.cpp).
extern const std::array<MarkerRow, kMarkerCount> kMarkers;

}  // namespace quorvane::dialectra
