#!/usr/bin/env python3
"""A private PostgreSQL server for tests: a cluster of its own in a temporary folder, listening
on a Unix socket in that folder and on a free loopback port, with a role that logs in with a
password. No test depends on a server someone else runs.

  private_postgres.py start --owner PID [--durable]
      Starts a server and prints its environment as KEY=VALUE lines (PGHOST, PGPORT, PGUSER,
      PGDATABASE, PGPASSWORD, NORVANE_PG_DIR, NORVANE_PG_TCP_HOST, NORVANE_PG_BINDIR). The server
      is stopped and its folder removed when process PID ends, whichever way it ends (a watcher
      process waits for it), or at "stop". --durable keeps fsync on (benchmarks).
  private_postgres.py stop DIR
      Stops the server of folder DIR and removes the folder.

From Python: `with PrivateServer() as server:` gives `server.env` (the lines above as a dict).

The server refuses to run as root, so when started by root it runs as the account "postgres"
(which the postgresql package creates) and the folder is made theirs. The password is random,
reaches the caller only through the output pipe, and is given to the server as a SCRAM verifier,
so it is in no argument list, no file and no server log.
"""

import base64
import glob
import hashlib
import hmac
import os
import pwd
import secrets
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time

ROLE = "norvane_test"
SERVER_ACCOUNT = "postgres"


def bindir():
    wanted = os.environ.get("NORVANE_PG_BINDIR")
    if wanted:
        return wanted
    found = sorted(glob.glob("/usr/lib/postgresql/*/bin/initdb"),
                   key=lambda p: int(p.split("/")[4]) if p.split("/")[4].isdigit() else 0)
    if not found:
        sys.exit("private_postgres: no PostgreSQL server (initdb) is installed; "
                 "scripts/setup.sh installs the package postgresql")
    return os.path.dirname(found[-1])


def account():
    """(uid, gid, name) the server runs as."""
    if os.geteuid() != 0:
        me = pwd.getpwuid(os.geteuid())
        return me.pw_uid, me.pw_gid, me.pw_name
    try:
        entry = pwd.getpwnam(SERVER_ACCOUNT)
    except KeyError:
        sys.exit("private_postgres: running as root, and there is no account %r to run the "
                 "server as" % SERVER_ACCOUNT)
    return entry.pw_uid, entry.pw_gid, entry.pw_name


def as_server(user, command, **kwargs):
    """Runs `command` as the server's account."""
    uid, gid, name = user
    if os.geteuid() == 0:
        command = ["setpriv", "--reuid=%d" % uid, "--regid=%d" % gid, "--init-groups", "--"] + \
            command
    env = {"PATH": os.environ.get("PATH", "/usr/bin:/bin"), "LC_ALL": "C", "USER": name,
           "HOME": kwargs.pop("home", "/")}
    return subprocess.run(command, env=env, stdin=kwargs.pop("stdin", subprocess.DEVNULL),
                          check=kwargs.pop("check", True), **kwargs)


def free_port():
    with socket.socket(socket.AF_INET, socket.SOCK_STREAM) as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def scram_verifier(password, iterations=4096):
    """The SCRAM-SHA-256 verifier PostgreSQL stores for `password` (RFC 5802, RFC 7677)."""
    salt = secrets.token_bytes(16)
    salted = hashlib.pbkdf2_hmac("sha256", password.encode(), salt, iterations)
    client_key = hmac.new(salted, b"Client Key", hashlib.sha256).digest()
    stored_key = hashlib.sha256(client_key).digest()
    server_key = hmac.new(salted, b"Server Key", hashlib.sha256).digest()
    b64 = lambda b: base64.b64encode(b).decode()
    return "SCRAM-SHA-256$%d:%s$%s:%s" % (iterations, b64(salt), b64(stored_key), b64(server_key))


def stop(folder):
    """Stops the server of `folder` (its watcher first) and removes the folder."""
    data = os.path.join(folder, "data")
    try:
        with open(os.path.join(folder, "watcher.pid")) as f:
            os.kill(int(f.read()), signal.SIGKILL)
    except (OSError, ValueError):
        pass
    if os.path.isfile(os.path.join(data, "postmaster.pid")):
        as_server(account(), [os.path.join(bindir(), "pg_ctl"), "-D", data, "-m", "immediate",
                              "-w", "stop"], check=False, stdout=subprocess.DEVNULL,
                  stderr=subprocess.DEVNULL)
    shutil.rmtree(folder, ignore_errors=True)


def wait_for_end(pid):
    """Returns when process `pid` has ended."""
    try:
        fd = os.pidfd_open(pid)
    except (AttributeError, OSError):
        fd = None
    if fd is not None:
        import select
        select.select([fd], [], [])
        os.close(fd)
        return
    while True:
        try:
            os.kill(pid, 0)
        except ProcessLookupError:
            return
        except PermissionError:
            pass
        time.sleep(0.2)


def watch(folder, owner):
    """Forks a watcher that stops the server when `owner` ends; returns in the caller."""
    first = os.fork()
    if first > 0:
        os.waitpid(first, 0)
        return
    # The watcher: a session of its own, holding none of the caller's files (the caller reads
    # our output to its end).
    os.setsid()
    if os.fork() > 0:
        os._exit(0)
    null = os.open(os.devnull, os.O_RDWR)
    for fd in (0, 1, 2):
        os.dup2(null, fd)
    os.closerange(3, 65536)
    with open(os.path.join(folder, "watcher.pid"), "w") as f:
        f.write(str(os.getpid()))
    wait_for_end(owner)
    try:
        os.unlink(os.path.join(folder, "watcher.pid"))
    except OSError:
        pass
    stop(folder)
    os._exit(0)


def start(owner, durable=False):
    """Starts a server; returns its environment."""
    bins = bindir()
    user = account()
    uid, gid, admin = user
    folder = tempfile.mkdtemp(prefix="norvane-pg-", dir="/tmp")  # a short socket path
    try:
        os.chown(folder, uid, gid)
        data = os.path.join(folder, "data")
        as_server(user, [os.path.join(bins, "initdb"), "-D", data, "-U", admin, "-E", "UTF8",
                         "--locale=C", "--auth-local=peer", "--auth-host=reject", "--no-sync",
                         "--no-instructions"], stdout=subprocess.DEVNULL,
                  stderr=subprocess.PIPE)
        # The administrator by the account it runs as; everyone else by password only.
        hba = ("local all %s peer\n"
               "local all all scram-sha-256\n"
               "host all all 127.0.0.1/32 scram-sha-256\n") % admin
        settings = ["listen_addresses = '127.0.0.1'", "unix_socket_directories = '%s'" % folder,
                    "password_encryption = 'scram-sha-256'", "max_connections = 40"]
        if not durable:
            settings += ["fsync = off", "synchronous_commit = off", "full_page_writes = off"]
        for name, text in (("pg_hba.conf", hba),
                           ("postgresql.auto.conf", "".join(s + "\n" for s in settings))):
            path = os.path.join(data, name)
            with open(path, "w") as f:
                f.write(text)
            os.chown(path, uid, gid)
        port = None
        for attempt in range(8):  # another program may take the free port before the server
            candidate = free_port()
            started = as_server(user, [os.path.join(bins, "pg_ctl"), "-D", data, "-l",
                                       os.path.join(folder, "server.log"), "-o",
                                       "-p %d" % candidate, "-w", "-t", "60", "start"],
                                check=False, stdout=subprocess.DEVNULL,
                                stderr=subprocess.DEVNULL)
            if started.returncode == 0:
                port = candidate
                break
        if port is None:
            with open(os.path.join(folder, "server.log"), errors="replace") as f:
                raise RuntimeError("the server did not start:\n" + f.read()[-2000:])
        watch(folder, owner)
        password = secrets.token_hex(16)
        script = ("CREATE ROLE %s LOGIN CREATEDB PASSWORD '%s';\n"
                  "CREATE DATABASE %s OWNER %s;\n") % (ROLE, scram_verifier(password), ROLE,
                                                         ROLE)
        as_server(user, [os.path.join(bins, "psql"), "-X", "-q", "-v", "ON_ERROR_STOP=1", "-h",
                         folder, "-p", str(port), "-U", admin, "-d", "postgres", "-f", "-"],
                  input=script.encode(), stdin=None, stdout=subprocess.DEVNULL,
                  stderr=subprocess.PIPE)
    except subprocess.CalledProcessError as e:
        stop(folder)
        raise RuntimeError("%s failed: %s" % (e.cmd[-1] if e.cmd else "a command",
                                              (e.stderr or b"").decode(errors="replace")))
    except BaseException:
        stop(folder)
        raise
    return {"PGHOST": folder, "PGPORT": str(port), "PGUSER": ROLE, "PGDATABASE": ROLE,
            "PGPASSWORD": password, "NORVANE_PG_DIR": folder, "NORVANE_PG_TCP_HOST": "127.0.0.1",
            "NORVANE_PG_BINDIR": bins}


class PrivateServer:
    """A server for the life of a `with` block (and of this process at most)."""

    def __init__(self, durable=False):
        self.durable = durable
        self.env = None

    def __enter__(self):
        self.env = start(os.getpid(), self.durable)
        return self

    def __exit__(self, *exc):
        stop(self.env["NORVANE_PG_DIR"])
        return False

    def environ(self):
        """os.environ with the server's variables."""
        env = dict(os.environ)
        env.update(self.env)
        return env


def main(argv):
    usage = "usage: private_postgres.py start --owner PID [--durable] | stop DIR"
    if len(argv) >= 2 and argv[1] == "start":
        args, owner, durable = argv[2:], None, False
        while args:
            if args[0] == "--owner" and len(args) > 1 and args[1].isdigit():
                owner, args = int(args[1]), args[2:]
            elif args[0] == "--durable":
                durable, args = True, args[1:]
            else:
                sys.exit(usage)
        if owner is None:
            sys.exit(usage)
        try:
            env = start(owner, durable)
        except RuntimeError as e:
            sys.exit("private_postgres: " + str(e))
        for key, value in env.items():
            print("%s=%s" % (key, value))
        return 0
    if len(argv) == 3 and argv[1] == "stop":
        if not os.path.basename(os.path.normpath(argv[2])).startswith("norvane-pg-"):
            sys.exit("private_postgres: %s is not a folder of ours" % argv[2])
        stop(argv[2])
        return 0
    sys.exit(usage)


if __name__ == "__main__":
    sys.exit(main(sys.argv))
