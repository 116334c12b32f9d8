/* SPDX-License-Identifier: BSD-2-Clause */
// Field renaming.
#include "names.h"

#include <cstdio>

namespace xo {

void add_name(Handle &h, std::string_view from, std::string_view to)
{
    h.names[std::string(from)] = std::string(to);
}

bool add_names(Handle &h, std::string_view list)
{
    while (!list.empty() && list[0] != ':') {
        size_t end = list.find(':');
        std::string_view entry = list.substr(0, end);
        size_t eq = entry.find('=');
        if (eq == 0 || eq == std::string_view::npos)
            return false;
        add_name(h, entry.substr(0, eq), entry.substr(eq + 1));
        if (end == std::string_view::npos)
            break;
        list.remove_prefix(end + 1);
    }
    return true;
}

namespace {

bool blank(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v';
}

// One line: the name, then blanks and '=', then the new name up to a
// blank.  A line without both is skipped.
void file_line(Handle &h, std::string_view line)
{
    size_t i = 0;
    while (i < line.size() && blank(line[i]))
        i++;
    if (i == line.size() || line[i] == '#')
        return;
    size_t from = i;
    while (i < line.size() && !blank(line[i]) && line[i] != '=')
        i++;
    std::string_view name = line.substr(from, i - from);
    while (i < line.size() && (blank(line[i]) || line[i] == '='))
        i++;
    size_t to = i;
    while (i < line.size() && !blank(line[i]))
        i++;
    if (!name.empty() && i > to)
        add_name(h, name, line.substr(to, i - to));
}

} // namespace

bool add_names_file(Handle &h, const char *path)
{
    // A map is a few lines: what is larger than this is no map (and may
    // be endless, as /dev/zero is).
    constexpr size_t max_size = 1 << 20;
    FILE *fp = path ? std::fopen(path, "r") : nullptr;
    if (!fp)
        return false;
    std::string line;
    size_t size = 0;
    int c;
    while ((c = std::getc(fp)) != EOF) {
        if (++size > max_size) {
            std::fclose(fp);
            return false;
        }
        if (c == '\n') {
            file_line(h, line);
            line.clear();
        } else {
            line.push_back(static_cast<char>(c));
        }
    }
    file_line(h, line);
    std::fclose(fp);
    return true;
}

} // namespace xo
