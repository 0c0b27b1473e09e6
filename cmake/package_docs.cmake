# Writes the Debian forms of the project's documents into OUT_DIR:
# "copyright" in the machine-readable format, from LICENSE, and
# "changelog.gz", from CHANGELOG.md. Run with cmake -P, with SOURCE_DIR,
# OUT_DIR, NAME and MAINTAINER defined.
file(STRINGS "${SOURCE_DIR}/LICENSE" license)
set(copyright "Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/\n")
string(APPEND copyright "Upstream-Name: ${NAME}\n\n")
string(APPEND copyright "Files: *\nCopyright: 2026 The ${NAME} authors\nLicense: Expat\n")
# The licence text, less its title and copyright lines, with blank lines
# written as a lone dot.
set(body OFF)
foreach(line IN LISTS license)
  if(line MATCHES "^Permission")
    set(body ON)
  endif()
  if(body)
    if(line STREQUAL "")
      string(APPEND copyright " .\n")
    else()
      string(APPEND copyright " ${line}\n")
    endif()
  endif()
endforeach()
file(WRITE "${OUT_DIR}/copyright" "${copyright}")

# Each "## [VERSION] - DATE" starts an entry; "- " starts an item, and an
# indented line goes on with it. Headings of kinds of change are left out.
# The changelog gives days only; releases made on one day are told apart by
# the hour, the newest at 23:00 and each older one an hour earlier.
file(STRINGS "${SOURCE_DIR}/CHANGELOG.md" lines)
set(changelog "")
set(version "")
set(hour 23)
macro(end_entry)
  if(version)
    execute_process(COMMAND date -u -R -d "${date} ${hour}:00:00"
                    OUTPUT_VARIABLE when OUTPUT_STRIP_TRAILING_WHITESPACE
                    COMMAND_ERROR_IS_FATAL ANY)
    string(APPEND changelog "\n -- ${MAINTAINER}  ${when}\n\n")
    math(EXPR hour "${hour} - 1")
  endif()
endmacro()
foreach(line IN LISTS lines)
  if(line MATCHES "^## \\[([^]]+)\\] - ([0-9-]+)")
    end_entry()
    set(version "${CMAKE_MATCH_1}")
    set(date "${CMAKE_MATCH_2}")
    string(APPEND changelog "${NAME} (${version}) unstable; urgency=medium\n\n")
  elseif(version AND line MATCHES "^- (.*)")
    string(APPEND changelog "  * ${CMAKE_MATCH_1}\n")
  elseif(version AND line MATCHES "^  +(.*)")
    string(APPEND changelog "    ${CMAKE_MATCH_1}\n")
  endif()
endforeach()
end_entry()
string(REGEX REPLACE "\n\n$" "\n" changelog "${changelog}")
file(WRITE "${OUT_DIR}/changelog" "${changelog}")
execute_process(COMMAND gzip -9nf "${OUT_DIR}/changelog" COMMAND_ERROR_IS_FATAL ANY)
