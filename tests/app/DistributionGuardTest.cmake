# The telemetry settings a distribution refuses (cmake/LumoDistribution.cmake),
# row by row:  cmake -P DistributionGuardTest.cmake
cmake_minimum_required(VERSION 3.25)
include("${CMAKE_CURRENT_LIST_DIR}/../../cmake/LumoDistribution.cmake")

set(development_endpoint "http://127.0.0.1:8787/api/database/records/usage_events")
set(development_key "lumo-dev-anon-key")
set(good_endpoint "https://telemetry.brimwell.com/api/database/records/usage_events")
# endpoint | key | what the refusal must mention ("" = accepted)
set(rows
  "${development_endpoint}|${development_key}|the development receiver"
  "|key|ENDPOINT is empty"
  "http://telemetry.brimwell.com/usage|key|not an https:// URL"
  "https://localhost:8787/usage|key|the machine it runs on"
  "https://127.0.0.1/usage|key|the machine it runs on"
  "https://[::1]:8787/usage|key|the machine it runs on"
  "https://user@LOCALHOST/usage|key|the machine it runs on"
  "${good_endpoint}|${development_key}|the development key"
  "${good_endpoint}||KEY is empty"
  "https://localhost.brimwell.com/usage|key|"
  "${good_endpoint}|a-real-key|")
set(failures 0)
foreach(row IN LISTS rows)
  string(REPLACE "|" ";" fields "${row}")
  list(LENGTH fields count)
  if(NOT count EQUAL 3)
    message(FATAL_ERROR "malformed row: ${row}")
  endif()
  list(GET fields 0 endpoint)
  list(GET fields 1 key)
  list(GET fields 2 expected)
  lumo_telemetry_problem(problem "${endpoint}" "${key}" "${development_endpoint}" "${development_key}")
  if(expected STREQUAL "")
    set(ok FALSE)
    if(problem STREQUAL "")
      set(ok TRUE)
    endif()
  else()
    string(FIND "${problem}" "${expected}" at)
    set(ok FALSE)
    if(at GREATER_EQUAL 0)
      set(ok TRUE)
    endif()
  endif()
  if(NOT ok)
    message(SEND_ERROR "row \"${row}\": expected \"${expected}\", got \"${problem}\"")
    math(EXPR failures "${failures} + 1")
  endif()
endforeach()
if(failures)
  message(FATAL_ERROR "${failures} row(s) failed")
endif()
