// kbr3300-image: look into firmware upgrade images and make them.
//
//   kbr3300-image info FILE
//   kbr3300-image build --prod-id ID --version VER [--a-version VER] [--size1 N] [--size2 N]
//                       [--header-size N] [--break KIND] -o FILE
//
// info exits 0 for a valid upgrade image, 1 for an invalid one, 2 when the file cannot be read.
// build exits 0 when the file was written, 1 when it could not be built or written.
// Both exit 64 on a usage error.
#include <charconv>
#include <cstdio>
#include <iostream>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "devtools/image/ImageBuilder.h"
#include "link/UpgradeImage.h"

namespace {

constexpr int EXIT_USAGE = 64;

const char* const USAGE =
    "usage:\n"
    "  kbr3300-image info FILE\n"
    "      Shows both sections (offsets, sizes, CRC good/bad) and the tags \"prod_id\", \"version\" and\n"
    "      \"a:version\". Exit status: 0 valid upgrade image, 1 invalid, 2 file cannot be read.\n"
    "  kbr3300-image build --prod-id ID --version VER [--a-version VER] [--size1 N] [--size2 N]\n"
    "                      [--header-size N] [--break KIND] -o FILE\n"
    "      Writes an image whose section 1 carries \"prod_id\" and \"a:version\" (default: VER) and\n"
    "      section 2 \"prod_id\" and \"version\", padded to the section sizes given (bytes; K and M\n"
    "      suffixes for KiB and MiB; default: as small as the tags allow).\n"
    "      --break spoils the image on purpose: crc1, crc2, no-prod-id, empty-section2, truncated,\n"
    "      huge-offset.\n";

int Usage(std::string_view problem) {
    std::cerr << "kbr3300-image: " << problem << "\n" << USAGE;
    return EXIT_USAGE;
}

// A byte count: decimal digits with an optional K (KiB) or M (MiB) suffix.
std::optional<size_t> ParseSize(std::string_view text) {
    size_t multiplier = 1;
    if (!text.empty() && (text.back() == 'K' || text.back() == 'k')) {
        multiplier = 1024;
        text.remove_suffix(1);
    } else if (!text.empty() && (text.back() == 'M' || text.back() == 'm')) {
        multiplier = 1024 * 1024;
        text.remove_suffix(1);
    }
    size_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc() || end != text.data() + text.size()) return std::nullopt;
    if (value > SIZE_MAX / multiplier) return std::nullopt;
    return value * multiplier;
}

// A tag text as it would be shown, with bytes that do not print escaped.
std::string Quote(const std::string& text) {
    std::string out = "\"";
    for (unsigned char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20 || c >= 0x7F) {
            char escaped[5];
            std::snprintf(escaped, sizeof escaped, "\\x%02X", c);
            out += escaped;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + "\"";
}

void PrintTag(std::string_view name, const std::optional<std::string>& value) {
    std::printf("    %-10s %s\n", std::string(name).c_str(), value ? Quote(*value).c_str() : "(not found)");
}

int Info(const std::string& path) {
    const kbr::ImageFileData file = kbr::ReadImageFile(path);
    if (file.error) {
        std::fprintf(stderr, "%s: %s\n", path.c_str(), std::string(kbr::FileErrorMessage(*file.error)).c_str());
        return 2;
    }
    if (file.tooLarge) {
        std::printf("file       %s: larger than %llu bytes\nresult     not a valid upgrade image\n", path.c_str(),
                    static_cast<unsigned long long>(kbr::MAX_IMAGE_FILE_SIZE));
        return 1;
    }

    const kbr::ImageDescription description = kbr::DescribeImage(file.bytes);
    const kbr::ImageLayout& layout = description.layout;
    std::printf("file       %s, %llu bytes\n", path.c_str(), static_cast<unsigned long long>(layout.fileSize));
    if (layout.headerComplete) {
        std::printf("header     off1 = %u (0x%08X), off2 = %u (0x%08X)\n", layout.off1, layout.off1, layout.off2,
                    layout.off2);
        for (size_t i = 0; i < 2; ++i) {
            const auto& section = layout.sections[i];
            std::printf("section %zu  offset %llu, %llu bytes, ", i + 1,
                        static_cast<unsigned long long>(section.offset), static_cast<unsigned long long>(section.size));
            if (!section.insideFile) {
                std::printf("not inside the file\n");
            } else if (section.size < kbr::IMAGE_SECTION_START_SIZE) {
                std::printf("too short\n");
            } else {
                std::printf("CRC %s\n", section.crcGood ? "good" : "bad");
            }
            if (const auto& tags = description.tags[i]) {
                // Each section's own version tag is always listed; the other one only when present.
                PrintTag(kbr::IMAGE_TAG_PRODUCT_ID, tags->productId);
                if (i == 0 || tags->appVersion) PrintTag(kbr::IMAGE_TAG_APP_VERSION, tags->appVersion);
                if (i == 1 || tags->version) PrintTag(kbr::IMAGE_TAG_VERSION, tags->version);
            }
        }
    }

    std::string problem = layout.problem;
    if (problem.empty()) {
        for (size_t i = 0; i < 2 && problem.empty(); ++i) {
            if (!description.tags[i] || !description.tags[i]->productId) {
                problem = "section " + std::to_string(i + 1) + " has no \"prod_id\" tag";
            }
        }
    }
    if (description.upgradeImage) {
        std::printf("result     valid upgrade image\n");
        if (!description.tags[1]->version) {
            std::printf("warning    section 2 has no \"version\" tag: an upgrade with it cannot go on\n");
        }
        return 0;
    }
    std::printf("result     not a valid upgrade image: %s\n", problem.c_str());
    return 1;
}

int Build(const std::vector<std::string_view>& args) {
    std::map<std::string_view, std::string_view> options;
    static const std::vector<std::string_view> known = {"--prod-id", "--version",     "--a-version", "--size1",
                                                        "--size2",   "--header-size", "--break",     "-o"};
    for (size_t i = 0; i < args.size(); i += 2) {
        if (std::find(known.begin(), known.end(), args[i]) == known.end()) {
            return Usage("unknown option " + std::string(args[i]));
        }
        if (i + 1 >= args.size()) return Usage(std::string(args[i]) + " needs a value");
        options[args[i]] = args[i + 1];
    }
    for (std::string_view required : {"--prod-id", "--version", "-o"}) {
        if (!options.contains(required)) return Usage(std::string(required) + " is required");
    }
    const std::string_view version = options["--version"];
    const std::string_view appVersion = options.contains("--a-version") ? options["--a-version"] : version;

    size_t sizes[3] = {0, 0, kbr::IMAGE_HEADER_SIZE};
    const std::string_view sizeOptions[3] = {"--size1", "--size2", "--header-size"};
    for (int i = 0; i < 3; ++i) {
        if (!options.contains(sizeOptions[i])) continue;
        const auto size = ParseSize(options[sizeOptions[i]]);
        if (!size) return Usage(std::string(sizeOptions[i]) + " takes a byte count");
        sizes[i] = *size;
    }

    kbr::ImageSpec plan = kbr::StandardImageSpec(options["--prod-id"], version, appVersion, sizes[0], sizes[1]);
    plan.headerSize = sizes[2];
    if (options.contains("--break")) {
        static const std::map<std::string_view, kbr::ImageDefect> defects = {
            {"crc1", kbr::ImageDefect::Section1Crc},       {"crc2", kbr::ImageDefect::Section2Crc},
            {"no-prod-id", kbr::ImageDefect::NoProductId}, {"empty-section2", kbr::ImageDefect::EmptySection2},
            {"truncated", kbr::ImageDefect::Truncated},    {"huge-offset", kbr::ImageDefect::HugeOffset},
        };
        const auto defect = defects.find(options["--break"]);
        if (defect == defects.end()) return Usage("unknown --break kind " + std::string(options["--break"]));
        plan.defect = defect->second;
    }

    std::string error;
    const auto image = kbr::BuildUpgradeImage(plan, &error);
    if (!image) {
        std::fprintf(stderr, "kbr3300-image: %s\n", error.c_str());
        return 1;
    }
    const std::string output(options["-o"]);
    if (!kbr::WriteImageFile(output, *image, &error)) {
        std::fprintf(stderr, "kbr3300-image: %s\n", error.c_str());
        return 1;
    }
    std::printf("wrote %s, %zu bytes\n", output.c_str(), image->size());
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const std::vector<std::string_view> args(argv + 1, argv + argc);
    if (args.empty()) return Usage("no command given");
    if (args[0] == "-h" || args[0] == "--help") {
        std::cout << USAGE;
        return 0;
    }
    if (args[0] == "info") {
        if (args.size() != 2) return Usage("info takes one file");
        return Info(std::string(args[1]));
    }
    if (args[0] == "build") return Build({args.begin() + 1, args.end()});
    return Usage("unknown command " + std::string(args[0]));
}
