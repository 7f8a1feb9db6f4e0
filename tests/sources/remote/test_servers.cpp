#include "test_servers.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>

namespace remote_test {

Rgb picturePixel(std::uint32_t x, std::uint32_t y) {
    const bool dark = ((x / 64) + (y / 64)) % 2 == 0;
    return Rgb{static_cast<std::uint8_t>(x * 255 / (kPictureWidth - 1)),
               static_cast<std::uint8_t>(y * 255 / (kPictureHeight - 1)),
               static_cast<std::uint8_t>(dark ? 40 : 210)};
}

std::string Servers::direct(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(lighttpdPort) + "/" + path;
}
std::string Servers::proxied(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(proxyPort) + "/" + path;
}
void Servers::setRules(const std::string& rules) const {
    std::ofstream(rulesFile + ".new") << rules;
    std::rename((rulesFile + ".new").c_str(), rulesFile.c_str());
    std::ofstream(proxyLog, std::ios::trunc).flush();
}
std::string Servers::secure(const std::string& path) const {
    return "https://127.0.0.1:" + std::to_string(tlsPort) + "/" + path;
}
std::string Servers::log() const { return readFile(proxyLog); }

std::string readFile(const std::string& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

namespace {

struct Running {
    Servers servers;
    ChildProcess lighttpdProcess, proxy;

    ~Running() {
        proxy.stop();
        lighttpdProcess.stop();
        if (!servers.directory.empty() && !std::getenv("KEEPX"))
            runToEnd({"/bin/rm", "-rf", servers.directory});
    }

    bool writePicture(const std::string& path) {
        std::ofstream out(path, std::ios::binary);
        out << "P6\n" << kPictureWidth << " " << kPictureHeight << "\n255\n";
        for (std::uint32_t y = 0; y < kPictureHeight; ++y)
            for (std::uint32_t x = 0; x < kPictureWidth; ++x) {
                const Rgb p = picturePixel(x, y);
                out.put(static_cast<char>(p.r)).put(static_cast<char>(p.g)).put(static_cast<char>(p.b));
            }
        return static_cast<bool>(out);
    }

    // The trees the tests read: IIIF 2 (PNG) and 3 (JPEG), Deep Zoom with overlap (lossless WebP),
    // {z}/{y}/{x} (lossless JPEG 2000), all addressed through the proxy, and a pyramidal TIFF, uncompressed
    // so that it spans many range blocks, for range requests and for iipsrv, which also serves a TIFF of one
    // level; and a picture wider than any tile.
    bool writeTrees(const std::string& vips) {
        const std::string www = servers.directory + "/www";
        const std::string picture = servers.directory + "/picture.ppm";
        const std::string id = "http://127.0.0.1:" + std::to_string(servers.proxyPort) + "/";
        return writePicture(picture) &&
               runToEnd({vips, "dzsave", picture, www + "/iiif2", "--layout", "iiif", "--tile-size", "256",
                         "--suffix", ".png", "--id", id}) &&
               runToEnd({vips, "dzsave", picture, www + "/iiif3", "--layout", "iiif3", "--tile-size", "256",
                         "--suffix", ".jpg[Q=95]", "--id", id}) &&
               runToEnd({vips, "dzsave", picture, www + "/deep", "--tile-size", "254", "--overlap", "1",
                         "--suffix", ".webp[lossless]"}) &&
               runToEnd({vips, "dzsave", picture, www + "/xyz", "--layout", "google", "--tile-size", "256",
                         "--suffix", ".jp2[lossless]"}) &&
               runToEnd({vips, "tiffsave", picture, www + "/flat.tif", "--tile", "--tile-width", "256",
                         "--tile-height", "256"}) &&
               runToEnd({vips, "black", www + "/wide.png", "300", "256"}) &&
               runToEnd({vips, "tiffsave", picture, www + "/pyramid.tif", "--tile", "--pyramid",
                         "--tile-width", "256", "--tile-height", "256", "--compression", "none"});
    }

    // The TLS port's part of lighttpd's configuration, once lighttpd has checked it; empty without it.
    // Its connections stay a minute, so that a slow machine's pauses open no second one; /slow/ goes
    // through the proxy, where rules can hold requests.
    std::string tlsPart(const std::string& lighttpd, const std::string& configuration) {
        const std::string& dir = servers.directory;
        const std::string openssl = findProgram("openssl");
        servers.tlsMissing = "needs openssl (Debian: openssl)";
        if (openssl.empty() ||
            !runToEnd({openssl, "req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:P-256",
                       "-nodes", "-keyout", dir + "/key.pem", "-out", dir + "/certificate.pem", "-days", "2",
                       "-subj", "/CN=127.0.0.1", "-addext", "subjectAltName=IP:127.0.0.1"}))
            return {};
        const int port = freePort();
        const std::string lines[] = {
            "server.modules += (\"mod_openssl\", \"mod_accesslog\", \"mod_proxy\")",
            "$SERVER[\"socket\"] == \"127.0.0.1:" + std::to_string(port) + "\" {",
            "ssl.engine = \"enable\"",
            "ssl.pemfile = \"" + dir + "/certificate.pem\"",
            "ssl.privkey = \"" + dir + "/key.pem\"",
            "accesslog.filename = \"" + dir + "/access.log\"",
            "accesslog.format = \"%H %U\"",
            "server.max-keep-alive-idle = 60",
            "$HTTP[\"url\"] =~ \"^/slow/\" {",
            "proxy.server = (\"\" => ((\"host\" => \"127.0.0.1\", \"port\" => " +
                std::to_string(servers.proxyPort) + ")))",
            "proxy.header = (\"map-urlpath\" => (\"/slow/\" => \"/\"))",
            "}",
            "}",
        };
        std::string part;
        for (const std::string& line : lines) part += line + "\n";
        std::ofstream(dir + "/tls-check.conf") << configuration << part;
        servers.tlsMissing = "needs lighttpd's mod_openssl (Debian: lighttpd-mod-openssl)";
        if (!runToEnd({lighttpd, "-tt", "-f", dir + "/tls-check.conf"})) return {};
        servers.tlsMissing.clear();
        servers.tlsPort = port;
        servers.certificate = dir + "/certificate.pem";
        servers.accessLog = dir + "/access.log";
        return part;
    }

    bool startLighttpd(const std::string& lighttpd) {
        const std::string& dir = servers.directory;
        std::ostringstream conf;
        conf << "server.document-root = \"" << dir << "/www\"\n"
             << "server.bind = \"127.0.0.1\"\nserver.port = " << servers.lighttpdPort << "\n"
             << "server.errorlog = \"" << dir << "/lighttpd.log\"\n"
             << "mimetype.assign = (\".png\" => \"image/png\", \".jpg\" => \"image/jpeg\", "
                "\".json\" => \"application/json\", \".dzi\" => \"application/xml\", \".tif\" => "
                "\"image/tiff\")\n";
        const std::string iipsrv = "/usr/lib/iipimage-server/iipsrv.fcgi";
        servers.iipsrv = ::access(iipsrv.c_str(), X_OK) == 0;
        if (servers.iipsrv)
            conf << "server.modules += (\"mod_fastcgi\")\n"
                 << "fastcgi.server = (\"/iipsrv.fcgi\" => ((\"bin-path\" => \"" << iipsrv
                 << "\", \"socket\" => \"" << dir
                 << "/iipsrv.socket\", \"check-local\" => \"disable\", \"max-procs\" => 1, "
                    "\"bin-environment\" => "
                 << "(\"FILESYSTEM_PREFIX\" => \"" << dir << "/www/\", \"LOGFILE\" => \"" << dir
                 << "/iipsrv.log\", \"VERBOSITY\" => \"0\"))))\n";
        std::ofstream(dir + "/lighttpd.conf") << conf.str() << tlsPart(lighttpd, conf.str());
        return lighttpdProcess.start({lighttpd, "-D", "-f", dir + "/lighttpd.conf"}) &&
               waitForPort(servers.lighttpdPort) && (servers.tlsPort == 0 || waitForPort(servers.tlsPort));
    }
};

Running* startAll() {
    auto running = std::make_unique<Running>();
    Servers& s = running->servers;
    const std::string lighttpd = findProgram("lighttpd"), vips = findProgram("vips"),
                      python = ::access("/usr/bin/python3", X_OK) == 0 ? std::string("/usr/bin/python3")
                                                                       : findProgram("python3");
    if (lighttpd.empty() || vips.empty() || python.empty()) {
        s.missing = "needs lighttpd, vips and python3 (Debian: lighttpd libvips-tools python3)";
        return running.release();
    }
    char scratch[] = "/tmp/zelvan-remote-XXXXXX";
    if (!::mkdtemp(scratch)) {
        s.missing = "no scratch directory";
        return running.release();
    }
    s.directory = scratch;
    s.rulesFile = s.directory + "/rules";
    s.proxyLog = s.directory + "/proxy.log";
    ::mkdir((s.directory + "/www").c_str(), 0700);
    ::mkdir((s.directory + "/www/huge").c_str(), 0700);
    // The proxy first, so that lighttpd's TLS port can send /slow/ through it.
    s.lighttpdPort = freePort();
    std::string port;
    if (!running->proxy.start(
            {python, ZELVAN_FAULT_PROXY, "--upstream", "http://127.0.0.1:" + std::to_string(s.lighttpdPort),
             "--rules", s.rulesFile, "--log", s.proxyLog},
            &port)) {
        s.missing = "the proxy did not start";
        return running.release();
    }
    s.proxyPort = std::atoi(port.c_str());
    if (!running->startLighttpd(lighttpd)) {
        s.missing = "lighttpd did not start";
        return running.release();
    }
    if (!running->writeTrees(vips)) s.missing = "vips could not write the test trees";
    return running.release();
}

}  // namespace

const Servers& servers() {
    static const std::unique_ptr<Running> running(startAll());
    return running->servers;
}

}  // namespace remote_test
