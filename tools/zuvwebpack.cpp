// zuvwebpack: makes a request package as the web portal sends it, for the import service to
// read from its folder or its mailbox. Exit status: 0 done (the package's path is printed),
// 1 failed (nothing written), 2 a command line it does not understand.
#include <algorithm>
#include <fstream>
#include <iostream>
#include <iterator>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/os/Guid.h"
#include "platform/rtl/DateTime.h"
#include "tools/WebPackage.h"

namespace {

constexpr const char* kUsage = R"(usage: zuvwebpack --issuer N --branch N [OPTIONS] REQUESTS FOLDER

Makes the web side's request package from the requests in the file REQUESTS ("-": standard
input) and writes it into FOLDER as ZuvWebExport_IIIIIBB_YYYYMMDDHHNNSSZZZ.zip (or .dat);
prints the package's path.

  --issuer N        the issuer (emitent) id of the import's installation, 0 to 99999
  --branch N        its branch (filial) id, 0 to 99
  --public-key HEX  encrypts the package for this public key (.dat): the import's key, as
                    "zuvcrypt public-key ZUV_QEL_IMPORT" prints it on the import's machine
  --time T          the creation time as 17 digits YYYYMMDDHHNNSSZZZ (default: now)
  --package-id ID   the package id, {GUID} (default: a new one)
  --version V       the version the header declares (default: the import's own)
  -h, --help        prints this text

REQUESTS holds one request a line (UTF-8), the item element and its fields:

  # recharge a card, then block another one
  RECHARGE Id=1 ClientId=100 ClientType=1 CardNumber=700100000001 Amount=250.5 ServiceId=5 DateCreate=2024-03-05T10:00:00
  BLOCK_CARD Id=2 ClientId=100 ClientType=1 CardNumber=700100000002 DateCreate=2024-03-05T10:05:00 Comment="card lost"

Items: RECHARGE DEBIT CHANGE_LIMIT BLOCK_CARD CHANGE_HOLDER CHANGE_CLIENT_STATE STATUS_REQUEST
PACKAGE_CONFIRM CHANGE_CARD_ONLINE_LIMIT CREATE_COUPON COUPON_REQUEST. Every request is read
as the import reads it first: a missing field or a value that does not convert is refused.
)";

struct EUsage : std::runtime_error {
    using std::runtime_error::runtime_error;
};

int Number(const std::string& option, const std::string& text) {
    std::size_t used = 0;
    int value = 0;
    try {
        value = std::stoi(text, &used);
    } catch (const std::exception&) {
        used = 0;
    }
    if (text.empty() || used != text.size()) throw svc::EWebPackageError(option + " takes a number: " + text);
    return value;
}

rtl::TDateTime Time(const std::string& text) {
    rtl::TDateTime value = 0;
    bool digits = text.size() == 17 && text.find_first_not_of("0123456789") == std::string::npos;
    auto part = [&](int at, int n) { return std::stoi(text.substr(static_cast<std::size_t>(at), n)); };
    if (!digits || !rtl::TryEncodeDateTime(part(0, 4), part(4, 2), part(6, 2), part(8, 2), part(10, 2),
                                           part(12, 2), part(14, 3), value))
        throw svc::EWebPackageError("--time takes a valid time as 17 digits YYYYMMDDHHNNSSZZZ: " + text);
    return value;
}

std::string ReadRequests(const std::string& file) {
    if (file == "-") return {std::istreambuf_iterator<char>(std::cin), std::istreambuf_iterator<char>()};
    std::ifstream in(file, std::ios::binary);
    if (!in) throw svc::EWebPackageError("cannot read " + file);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

int Run(const std::vector<std::string>& args) {
    std::map<std::string, std::string> options;
    std::vector<std::string> files;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a.rfind("--", 0) == 0) {
            static const char* const known[] = {"--issuer", "--branch",     "--public-key",
                                                "--time",   "--package-id", "--version"};
            if (std::find(std::begin(known), std::end(known), a) == std::end(known) || i + 1 == args.size() ||
                options.count(a))
                throw EUsage(a);
            options[a] = args[++i];
        } else {
            files.push_back(a);
        }
    }
    if (files.size() != 2 || !options.count("--issuer") || !options.count("--branch")) throw EUsage("");

    svc::TWebPackageHeader header = svc::NewWebPackageHeader(Number("--issuer", options["--issuer"]),
                                                             Number("--branch", options["--branch"]));
    if (options.count("--time")) header.Created = Time(options["--time"]);
    if (options.count("--package-id")) {
        os::TGUID guid;
        if (!os::TryStringToGUID(options["--package-id"], guid))
            throw svc::EWebPackageError("--package-id takes a {GUID}: " + options["--package-id"]);
        header.PackageId = options["--package-id"];
    }
    if (options.count("--version")) header.Version = options["--version"];

    const auto requests = svc::ParseWebRequests(ReadRequests(files[0]));
    std::cout << svc::MakeWebPackage(header, requests, files[1], options["--public-key"]) << "\n";
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    if (args.size() == 1 && (args[0] == "-h" || args[0] == "--help")) {
        std::cout << kUsage;
        return 0;
    }
    try {
        return Run(args);
    } catch (const EUsage&) {
        std::cerr << kUsage;
        return 2;
    } catch (const std::exception& e) {
        std::cerr << "zuvwebpack: " << e.what() << "\n";
        return 1;
    }
}
