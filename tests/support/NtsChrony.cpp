#include "support/NtsChrony.h"

#include <arpa/inet.h>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <cstdlib>
#include <fstream>
#include <netinet/in.h>
#include <random>
#include <sstream>
#include <tuple>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

bool Run(const std::string& command) { return std::system((command + " >/dev/null 2>&1").c_str()) == 0; }

void Write(const std::string& path, const std::string& text) { std::ofstream(path) << text; }

std::string Read(const std::string& path)
{
    std::ifstream file(path);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

// A key and a certificate signed by the CA, from a certtool template.
bool Issue(const std::string& dir, const std::string& name, const std::string& tmpl)
{
    const std::string base = dir + "/" + name;
    Write(base + ".tmpl", tmpl);
    return Run("certtool --generate-privkey --key-type=ecdsa --outfile " + base + ".key") &&
           Run("certtool --generate-certificate --load-privkey " + base + ".key --load-ca-certificate " + dir +
               "/ca.pem --load-ca-privkey " + dir + "/ca.key --template " + base + ".tmpl --outfile " + base + ".pem");
}

bool Accepts(const std::string& address, int port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    inet_pton(AF_INET, address.c_str(), &a.sin_addr);
    const bool connected = ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    ::close(fd);
    return connected;
}

bool PortFree(int type, int port)
{
    const int fd = ::socket(AF_INET, type | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_ANY);
    const bool free = ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    ::close(fd);
    return free;
}

} // namespace

int FreeLoopbackPort()
{
    // Tests ask from several threads at once.
    thread_local std::mt19937 random{std::random_device{}()};
    for (int tries = 0; tries < 200; ++tries) {
        const int port = 20000 + static_cast<int>(random() % 40000);
        if (PortFree(SOCK_STREAM, port) && PortFree(SOCK_DGRAM, port))
            return port;
    }
    return 0;
}

NtsCertificates MakeNtsCertificates(const std::string& dir)
{
    NtsCertificates c;
    c.dir = dir;
    ::mkdir(dir.c_str(), 0755);
    c.ca = dir + "/ca.pem";
    const std::string days = "expiration_days = 30\n";
    Write(dir + "/ca.tmpl", "cn = \"Horolab Test CA\"\nca\ncert_signing_key\n" + days);
    const std::string server = "tls_www_server\nsigning_key\n";
    c.ok = Run("certtool --generate-privkey --key-type=ecdsa --outfile " + dir + "/ca.key") &&
           Run("certtool --generate-self-signed --load-privkey " + dir + "/ca.key --template " + dir +
               "/ca.tmpl --outfile " + c.ca) &&
           Issue(dir, "good",
                 "cn = \"localhost\"\ndns_name = \"localhost\"\nip_address = \"127.0.0.1\"\n"
                 "ip_address = \"127.0.0.2\"\n" + server + days) &&
           Issue(dir, "expired",
                 "cn = \"localhost\"\ndns_name = \"localhost\"\nip_address = \"127.0.0.1\"\n" + server +
                     "activation_date = \"2020-01-01 00:00:00\"\nexpiration_date = \"2020-02-01 00:00:00\"\n") &&
           Issue(dir, "other", "cn = \"other.example\"\ndns_name = \"other.example\"\n" + server + days) &&
           Issue(dir, "client", "cn = \"localhost\"\nip_address = \"127.0.0.1\"\ntls_www_client\nsigning_key\n" + days);
    if (!c.ok)
        c.error = "certtool (gnutls-bin) could not make the test certificates in " + dir;
    for (auto [cert, key, name] : {std::tuple{&c.good, &c.goodKey, "good"}, {&c.expired, &c.expiredKey, "expired"},
                                   {&c.otherName, &c.otherNameKey, "other"},
                                   {&c.clientOnly, &c.clientOnlyKey, "client"}}) {
        *cert = dir + "/" + name + ".pem";
        *key = dir + "/" + name + ".key";
    }
    return c;
}

bool CNtsChrony::Start(const NtsChronySetUp& setUp)
{
    m_setUp = setUp;
    m_kePort = FreeLoopbackPort();
    m_ntpPort = FreeLoopbackPort();
    ::mkdir(m_dir.c_str(), 0755);
    Run("rm -rf " + m_dir + "/keys");
    ::mkdir((m_dir + "/keys").c_str(), 0755);
    std::string conf = "port " + std::to_string(m_ntpPort) + "\nbindaddress " + setUp.address +
                       "\nallow 127.0.0.0/8\nlocal stratum 3\ncmdport 0\nbindcmdaddress /\n"
                       "pidfile " + m_dir + "/chronyd.pid\nntsserverkey " + setUp.key + "\nntsservercert " +
                       setUp.cert + "\nntsport " + std::to_string(m_kePort) +
                       "\nntsprocesses 0\nntsdumpdir " + m_dir + "/keys\n";
    if (!setUp.ntsNtpServer.empty())
        conf += "ntsntpserver " + setUp.ntsNtpServer + "\n";
    Write(m_dir + "/chrony.conf", conf);
    return Launch();
}

bool CNtsChrony::Launch()
{
    const std::string log = m_dir + "/chronyd.log";
    m_pid = fork();
    if (m_pid == 0) {
        setsid();
        const int in = open("/dev/null", O_RDONLY);
        const int out = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        dup2(in, STDIN_FILENO);
        dup2(out, STDOUT_FILENO);
        dup2(out, STDERR_FILENO);
        const std::string conf = m_dir + "/chrony.conf";
        // As root it would drop to its own user and lose the files here.
        std::vector<std::string> args = {HOROLAB_CHRONYD, "-x", "-d", "-f", conf};
        if (getuid() == 0)
            args.insert(args.end(), {"-u", "root"});
        else
            args.insert(args.end(), {"-U", "-u", getenv("USER") ? getenv("USER") : "nobody"});
        std::vector<char*> argv;
        for (auto& a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        execv(argv[0], argv.data());
        _exit(127);
    }
    for (int i = 0; i < 100; ++i) {
        if (Accepts(m_setUp.address, m_kePort))
            return true;
        if (waitpid(m_pid, nullptr, WNOHANG) == m_pid) {
            m_pid = -1;
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    m_error = "chronyd did not start its key exchange on " + KeServerText() + "; its log:\n" + Read(log);
    Stop();
    return false;
}

void CNtsChrony::Stop()
{
    if (m_pid <= 0)
        return;
    ::kill(m_pid, SIGTERM);
    for (int i = 0; i < 100; ++i) {
        if (waitpid(m_pid, nullptr, WNOHANG) == m_pid) {
            m_pid = -1;
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ::kill(m_pid, SIGKILL);
    waitpid(m_pid, nullptr, 0);
    m_pid = -1;
}

bool CNtsChrony::Restart(bool freshKeys)
{
    Stop();
    if (freshKeys)
        Run("rm -f " + m_dir + "/keys/ntskeys");
    return Launch();
}
