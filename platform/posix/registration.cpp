#include "platform/posix/registration.h"

#include <string>
#include <vector>

#include "frame/automation_error.h"
#include "platform/posix/class_object.h"
#include "platform/file_system.h"
#include "platform/module.h"

#include <pwd.h>
#include <unistd.h>

namespace varne::posix {

namespace {

struct RegistrationPorts {
    FileSystem* files = nullptr;
    EnvironmentLookup environment;
};

RegistrationPorts& registration_ports()
{
    static RegistrationPorts ports;
    return ports;
}

// The per-user registration file of the library's classes.
std::string user_registration_file(const EnvironmentLookup& environment)
{
    std::string folder;
    if (const char* config = environment("XDG_CONFIG_HOME"); config && *config) {
        folder = config;
    } else {
        const char* home = environment("HOME");
        if (!home || !*home) {
            const passwd* user = getpwuid(getuid());
            home = user ? user->pw_dir : "/tmp";
        }
        folder = std::string(home) + "/.config";
    }
    return folder + "/varne/registry.ini";
}

struct Section {
    std::string header;
    std::vector<std::string> lines;
};

std::vector<Section> parse_sections(const std::string& text)
{
    std::vector<Section> sections;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        std::string line = text.substr(start, end == std::string::npos ? std::string::npos : end - start);
        start = end == std::string::npos ? text.size() : end + 1;
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.empty())
            continue;
        if (line.front() == '[')
            sections.push_back({line, {}});
        else if (!sections.empty())
            sections.back().lines.push_back(line);
    }
    return sections;
}

std::vector<Section> library_sections(const LibraryDescriptor& library, const std::string& path)
{
    std::vector<Section> sections;
    const std::string type_library = library.type_library_id.to_string();
    const std::string version = std::to_string(library.major_version) + "." + std::to_string(library.minor_version);
    char locale[16];
    std::snprintf(locale, sizeof locale, "0x%X", library.locale);
    sections.push_back({"[TypeLib " + type_library + "]",
                        {"Name=" + to_utf8(library.name), "Version=" + version, "Locale=" + std::string(locale),
                         "Description=" + to_utf8(library.description), "Path=" + path}});
    for (const auto& cls : library.classes) {
        sections.push_back({"[CLSID " + cls.class_id.to_string() + "]",
                            {"Class=" + to_utf8(cls.name), "ProgID=" + to_utf8(cls.prog_id), "InprocServer=" + path,
                             "ThreadingModel=" + to_utf8(library.threading_model), "TypeLib=" + type_library}});
        sections.push_back({"[ProgID " + to_utf8(cls.prog_id) + "]", {"CLSID=" + cls.class_id.to_string()}});
        sections.push_back({"[Interface " + cls.interface_id.to_string() + "]",
                            {"Name=" + to_utf8(cls.interface_name), "TypeLib=" + type_library, "Version=" + version}});
    }
    return sections;
}

std::vector<Section> read_registry(FileSystem& files, const BStr& path)
{
    if (!files.file_exists(path))
        return {};
    return parse_sections(to_utf8(files.read_all_text(path)));
}

void write_registry(FileSystem& files, const BStr& path, const std::vector<Section>& sections)
{
    auto writer = files.replace_file(path);
    for (const auto& section : sections) {
        writer->write_line(from_utf8(section.header));
        for (const auto& line : section.lines)
            writer->write_line(from_utf8(line));
        writer->write_line(u"");
    }
    writer->close();
}

// Keeps every section of the file that is not one of ours, in its order.
std::vector<Section> without(const std::vector<Section>& sections, const std::vector<Section>& ours)
{
    std::vector<Section> kept;
    for (const auto& section : sections) {
        bool is_ours = false;
        for (const auto& mine : ours)
            is_ours = is_ours || mine.header == section.header;
        if (!is_ours)
            kept.push_back(section);
    }
    return kept;
}

template <class Change>
int32_t update_registry(const LibraryDescriptor& library, Change change)
{
    try {
        const auto& ports = registration_ports();
        // The composition root hands the ports over when the library loads; a library without them
        // has no file to register in.
        if (!ports.files || !ports.environment)
            return status::kClassRegistrationFailed;
        FileSystem& files = *ports.files;
        const BStr path = from_utf8(user_registration_file(ports.environment));
        auto folder_end = path.rfind(u'/');
        if (folder_end != BStr::npos)
            files.create_folders(path.substr(0, folder_end));
        auto ours = library_sections(library, library_file_path());
        write_registry(files, path, change(without(read_registry(files, path), ours), ours));
        return status::kOk;
    } catch (const AutomationError&) {
        return status::kClassRegistrationFailed;
    }
}

}  // namespace

void use_registration_ports(FileSystem& files, EnvironmentLookup environment)
{
    registration_ports() = {&files, std::move(environment)};
}

int32_t register_library(const LibraryDescriptor& library)
{
    return update_registry(library, [](std::vector<Section> kept, const std::vector<Section>& ours) {
        kept.insert(kept.end(), ours.begin(), ours.end());
        return kept;
    });
}

int32_t unregister_library(const LibraryDescriptor& library)
{
    return update_registry(library, [](std::vector<Section> kept, const std::vector<Section>&) { return kept; });
}

}  // namespace varne::posix
