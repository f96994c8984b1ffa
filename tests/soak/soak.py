#!/usr/bin/env python3
"""The soak: the real client against the stand-in school for minutes on end, driven through its
test control channel by a seeded random schedule of a student's actions, school faults, kills
of the client and a full disk; then every promise of the download road is checked. See the
README's "The soak". Run through scripts/soak."""

import argparse
import collections
import ctypes
import json
import os
import random
import re
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time
import urllib.request
from pathlib import Path

ROOT = Path(__file__).resolve().parents[2]
CLK_TCK = os.sysconf("SC_CLK_TCK")

# The soak's own courses: 60 lessons over three courses of the first student, mixed sizes,
# MPEG-TS and fMP4 segments, two streams served through a master playlist.
MEDIA = ["m1013", "m1014", "m1016", "m1018", "m1022", "m1023", "m1026", "m1027", "m1032",
         "m1033", "m1034"]
BIG_MEDIA = "benchsmall"
MASTER_MEDIA = ["m1023", "m1033"]
COURSES = {"201": ("财务会计综合训练", 24), "202": ("税法重点精讲", 20), "203": ("经济法真题串讲", 16)}
USERS = {
    "A": {"name": "13900000001", "password": "soak2026", "courses": ["201", "202", "203"]},
    "B": {"name": "13900000002", "password": "soak2027", "courses": ["102", "103"]},
}
# A flood is thousands of calls a minute for one waiting lesson; real work over a fast line
# stays well below this.
REQUESTS_PER_MINUTE_BOUND = 3000
IDLE_CPU_BOUND = 1.0  # per cent of one core
# A choice made this shortly before a kill may not have reached the record yet.
UNSAVED_WINDOW = 1.5


def die_with_parent():
    # The school and the client end with the soak, a killed soak too.
    ctypes.CDLL("libc.so.6", use_errno=True).prctl(1, signal.SIGKILL)  # PR_SET_PDEATHSIG


class Soak:
    def __init__(self, args):
        self.args = args
        self.rng = random.Random(args.seed)
        self.build = Path(args.build).resolve()
        self.t0 = time.monotonic()
        self.events = []  # (seconds, kind, detail)
        self.kinds = collections.Counter()
        self.violations = []
        self.kills = collections.Counter()
        self.loads = 0
        self.lost_in_kill = 0
        self.lost_to_full_disk = 0
        self.full_since = None  # when the disk last filled, until the next kill after it freed
        self.client = None
        self.life = 0
        self.lives = []  # (pss start, pss end, seconds)
        self.life_start = None
        self.faults = []  # (until, rule)
        self.filler = None
        self.filler_until = 0
        self.user = "A"
        self.want_login = True
        self.next_login = 0
        self.logout_until = 0
        self.held = set()
        # Per student: lesson id -> "chosen" | "deleted", with the time of the last action.
        self.lessons = {key: {} for key in USERS}
        self.acted = {key: {} for key in USERS}
        self.deleted_dirs = {key: {} for key in USERS}  # dir -> lesson ids it held
        self.stats = []  # (seconds, total requests)
        self.idle_cpu = []
        self.idle_requests = []

    # ---- the log ---------------------------------------------------------------------------
    def now(self):
        return time.monotonic() - self.t0

    def log(self, kind, detail=""):
        self.events.append((self.now(), kind, detail))
        self.kinds[kind] += 1
        if self.args.verbose:
            print(f"{self.now():8.1f} {kind} {detail}", flush=True)

    def violation(self, text):
        self.violations.append((self.now(), text))
        print(f"VIOLATION at {self.now():.1f} s: {text}", flush=True)
        around = [e for e in self.events if e[0] >= self.now() - 30]
        for t, kind, detail in around[-25:]:
            print(f"    {t:8.1f} {kind} {detail}")

    # ---- set-up ----------------------------------------------------------------------------
    def prepare(self):
        self.work = Path(tempfile.mkdtemp(prefix="tamix-soak-"))
        self.home = self.work / "home"
        self.disk = self.work / "disk"
        self.tmp = self.work / "tmp"
        for folder in (self.home, self.disk, self.tmp):
            folder.mkdir()
        # A small disk of its own, so that it can be filled: tmpfs where mounting is allowed.
        self.mounted = False
        if os.geteuid() == 0 and not self.args.no_mount:
            size = f"size={self.args.disk_mb}m"
            if subprocess.run(["mount", "-t", "tmpfs", "-o", size, "tamix-soak", str(self.disk)],
                              stderr=subprocess.DEVNULL).returncode == 0:
                self.mounted = True
        self.docs = self.disk / "docs"
        self.videos = self.disk / "videos"
        self.docs.mkdir()
        self.videos.mkdir()
        self.write_seed()

    def write_seed(self):
        seed = json.loads((ROOT / "school/seed/school.json").read_text(encoding="utf-8"))
        base = seed["users"][0]
        seed["users"] = [u for u in seed["users"] if u["username"] not in
                         {v["name"] for v in USERS.values()}]
        for key, user in USERS.items():
            entry = dict(base, uid=str(9000 + len(seed["users"])), username=user["name"],
                         password=user["password"], nickname="浸泡" + key,
                         courses=user["courses"], progress={})
            seed["users"].append(entry)
        self.course_lessons = {}
        self.media_of = {}
        layout = random.Random(20261210)  # the courses are the same for every seed
        for cid, (title, count) in COURSES.items():
            lessons = [{"id": cid + "00", "number": "1", "type": "zhang", "title": "第一章 总论",
                        "c_type": "0", "c_time": ""}]
            for i in range(1, count + 1):
                media = BIG_MEDIA if i in (7, 19) else layout.choice(MEDIA)
                lid = f"{cid}{i:02d}"
                lessons.append({"id": lid, "number": str(i + 1), "type": "kejian",
                                "title": f"第{i}讲 {title}（{i}）", "c_type": "1",
                                "c_time": "00:10", "media": media})
                self.media_of[lid] = media
            seed["courses"].append({"id": cid, "title": title, "teacher": "浸泡老师",
                                    "picture": "0x1f618d", "listForm": "array",
                                    "lessons": lessons})
        for course in seed["courses"]:
            ids = [l["id"] for l in course["lessons"] if l["type"] == "kejian" and l.get("media")]
            self.course_lessons[course["id"]] = ids
            for lesson in course["lessons"]:
                if lesson.get("media"):
                    self.media_of[lesson["id"]] = lesson["media"]
        self.seed_file = self.work / "school.json"
        self.seed_file.write_text(json.dumps(seed, ensure_ascii=False), encoding="utf-8")

    def start_school(self):
        exe = self.build / "school/tamix-school"
        self.media_dir = self.build / "school/media"
        self.school_log = open(self.work / "school.log", "w")
        self.school = subprocess.Popen(
            [str(exe), "--api-port", "0", "--key-port", "0", "--seed", str(self.seed_file),
             "--media", str(self.media_dir)],
            stdout=subprocess.PIPE, stderr=self.school_log, text=True, preexec_fn=die_with_parent)
        line = self.school.stdout.readline()
        match = re.search(r"api=(http://127\.0\.0\.1:\d+) key=(http://127\.0\.0\.1:\d+)", line)
        if not match:
            raise SystemExit(f"soak: the school did not start: {line!r}")
        self.api, self.keys = match.group(1), match.group(2)
        self.set_faults()

    # ---- the school ------------------------------------------------------------------------
    def school_call(self, path, body=None):
        data = None if body is None else json.dumps(body).encode()
        request = urllib.request.Request(self.api + path, data=data,
                                         method="GET" if body is None else "POST")
        with urllib.request.urlopen(request, timeout=10) as answer:
            text = answer.read()
        return json.loads(text) if text.strip().startswith(b"{") else {}

    def set_faults(self):
        now = self.now()
        self.faults = [(until, rule) for until, rule in self.faults if until > now]
        rules = [{"route": f"/stream/{m}/index.m3u8", "playlist": "master"}
                 for m in MASTER_MEDIA]
        rules += [rule for _, rule in self.faults]
        self.school_call("/_school/faults", rules)

    def add_fault(self, kind, rule, seconds):
        self.faults.append((self.now() + seconds, rule))
        self.set_faults()
        self.log("fault " + kind, f"{json.dumps(rule, ensure_ascii=False)} for {seconds:.0f} s")

    def sample_requests(self):
        try:
            self.stats.append((self.now(), self.school_call("/_school/stats")["requests"]))
        except OSError:
            pass

    # ---- the client ------------------------------------------------------------------------
    def start_client(self):
        self.life += 1
        self.socket_path = str(self.work / "control.sock")
        env = dict(os.environ)
        env.update({
            "HOME": str(self.home), "XDG_CONFIG_HOME": str(self.home / ".config"),
            "XDG_CACHE_HOME": str(self.home / ".cache"),
            "XDG_DATA_HOME": str(self.home / ".local/share"), "TMPDIR": str(self.tmp),
            "TAMIX_DOCUMENTS_DIR": str(self.docs), "TAMIX_VIDEOS_DIR": str(self.videos),
            "TAMIX_API_URL": self.api, "TAMIX_KEY_URL": self.keys,
            "TAMIX_CONTROL_SOCKET": self.socket_path, "TAMIX_MPV_OPTIONS": "ao=null,hwdec=no",
            "LANG": "zh_CN.UTF-8", "LANGUAGE": "zh_CN",
        })
        for name in ("LC_ALL", "LC_NUMERIC", "LC_CTYPE", "LC_MESSAGES"):
            env.pop(name, None)
        if os.geteuid() == 0:
            env["QTWEBENGINE_DISABLE_SANDBOX"] = "1"  # the web engine refuses its sandbox as root
        log = open(self.work / f"client-{self.life}.log", "w")
        self.client = subprocess.Popen([str(self.build / "src/app/tamix")], env=env,
                                       stdout=log, stderr=subprocess.STDOUT,
                                       preexec_fn=die_with_parent)
        self.conn = None
        deadline = time.monotonic() + 60
        while time.monotonic() < deadline:
            if self.client.poll() is not None:
                raise SystemExit(f"soak: the client ended at start ({self.client.returncode}); "
                                 "is it built with -DTAMIX_CONTROL=ON?")
            try:
                self.connect()
                self.call({"op": "ping"})
                break
            except OSError:
                time.sleep(0.2)
        else:
            raise SystemExit("soak: the client's control channel did not answer")
        self.life_start = self.now()
        self.pss_start = None
        self.login_seen = None

    def connect(self):
        conn = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
        conn.settimeout(30)
        conn.connect(self.socket_path)
        self.conn, self.reader = conn, conn.makefile("rb")

    def call(self, command):
        self.conn.sendall(json.dumps(command, ensure_ascii=False).encode() + b"\n")
        line = self.reader.readline()
        if not line:
            raise OSError("the control channel closed")
        return json.loads(line)

    def try_call(self, command):
        try:
            return self.call(command)
        except (OSError, ValueError) as error:
            self.violation(f"the client did not answer {command['op']}: {error}")
            self.restart_client("no answer")
            return None

    def state(self):
        return self.try_call({"op": "state"}) or {}

    def pss(self):
        try:
            for line in open(f"/proc/{self.client.pid}/smaps_rollup"):
                if line.startswith("Pss:"):
                    return int(line.split()[1])
        except OSError:
            pass
        return 0

    def cpu_seconds(self):
        fields = open(f"/proc/{self.client.pid}/stat").read().rsplit(")", 1)[1].split()
        return (int(fields[11]) + int(fields[12])) / CLK_TCK

    def measure_life(self, state):
        # The first figure half a minute after the life's first login: by then the course
        # page and its web engine have come, and what grows after is the client's own.
        if state.get("login") and self.login_seen is None:
            self.login_seen = self.now()
        if self.pss_start is None and self.login_seen and self.now() - self.login_seen > 30:
            self.pss_start, self.pss_start_at = self.pss(), self.now()

    def end_life(self):
        if self.client and self.client.poll() is None and self.pss_start:
            self.lives.append((self.pss_start, self.pss(), self.now() - self.pss_start_at))

    def kill_client(self, why):
        self.end_life()
        self.kills[why] += 1
        self.log("kill", why)
        self.client.kill()
        self.client.wait()
        if self.conn:
            self.conn.close()

    def restart_client(self, why):
        if self.client.poll() is None:
            self.kill_client(why)
        self.start_client()
        self.after_restart()

    def after_restart(self):
        """The record must load after every kill: no damage told, and the lessons of the
        restored student as the soak left them."""
        time.sleep(1.5)
        state = self.state()
        if not state:
            return
        if state.get("damaged"):
            self.violation(f"the record did not load after a kill: {state['told'][-3:]}")
            return
        self.loads += 1
        user = self.user_of(state.get("user", ""))
        if user:
            self.sync(user, state)
        if not self.filler:
            self.full_since = None

    def user_of(self, name):
        return next((key for key, user in USERS.items() if user["name"] == name), None)

    def record_lessons(self, state):
        found = {}
        for course in state.get("courses", []):
            for lesson in course["lessons"]:
                if lesson["state"] != 0:
                    found[lesson["id"]] = lesson
        for lesson in state.get("queue", []):
            found[lesson["id"]] = lesson
        return found

    def sync(self, user, state):
        """After a kill: what the record says against what the soak did."""
        found = self.record_lessons(state)
        for lid, status in list(self.lessons[user].items()):
            recent = self.acted[user].get(lid, 0) > self.now() - UNSAVED_WINDOW - 3
            if status == "chosen" and lid not in found:
                if recent:
                    self.lost_in_kill += 1
                    del self.lessons[user][lid]
                elif self.full_since is not None and self.acted[user].get(lid, 0) >= \
                        self.full_since - UNSAVED_WINDOW:
                    # Chosen while the disk was full: the record could not be saved, and the
                    # client said so ("storage" in told).
                    self.lost_to_full_disk += 1
                    del self.lessons[user][lid]
                else:
                    self.violation(f"lesson {lid} was chosen and is no longer in the record")
                    del self.lessons[user][lid]
            elif status == "deleted" and lid in found:
                # The delete had not reached the record: the lesson is still the student's.
                self.lessons[user][lid] = "chosen"

    # ---- the student -----------------------------------------------------------------------
    def login(self, key):
        user = USERS[key]
        self.try_call({"op": "login", "user": user["name"], "password": user["password"]})
        self.log("login", key)

    def keep_logged_in(self, state):
        if not state or self.now() < self.logout_until or self.now() < self.next_login:
            return
        if state.get("login") and self.user_of(state.get("user")) == self.user:
            return
        if state.get("login"):
            self.try_call({"op": "logout"})
            self.log("logout", "to switch")
        self.login(self.user)
        self.next_login = self.now() + 8

    def student(self, state):
        """The student the client is logged in as (the soak's wish may be another already)."""
        return self.user_of(state.get("user")) if state.get("login") else None

    def choose(self, state):
        who = self.student(state)
        if who is None:
            return None
        cid = self.rng.choice(USERS[who]["courses"])
        free = [lid for lid in self.course_lessons[cid]
                if self.lessons[who].get(lid) != "chosen"]
        if not free:
            return
        picked = self.rng.sample(free, min(len(free), self.rng.randint(2, 8)))
        answer = self.try_call({"op": "choose", "course": cid, "lessons": picked})
        if not answer:
            return
        chosen = answer.get("chosen", [])
        for lid in chosen:
            self.lessons[who][lid] = "chosen"
            self.acted[who][lid] = self.now()
        self.log("choose", f"{cid}: {','.join(chosen) or 'none'} ({answer.get('error', 'ok')})")
        return chosen

    def delete_lesson(self, state):
        who = self.student(state)
        mine = [l for l in self.record_lessons(state).values() if l.get("dir")]
        if who is None or not mine:
            return None
        lesson = self.rng.choice(mine)
        self.forget(who, lesson["id"], lesson["dir"])
        self.try_call({"op": "deleteLessons", "dirs": [lesson["dir"]]})
        self.log("delete lesson", f"{lesson['id']} {'in flight' if lesson['dir'] == state.get('inFlight') else ''}")
        return lesson

    def delete_course(self, state):
        who = self.student(state)
        courses = [c for c in state.get("courses", []) if c.get("dir")]
        if who is None or not courses:
            return None
        course = self.rng.choice(courses)
        for lesson in course["lessons"]:
            if lesson["state"] != 0 or lesson["id"] in self.lessons[who]:
                self.forget(who, lesson["id"], lesson["dir"] or course["dir"])
        self.deleted_dirs[who].setdefault(course["dir"], set()).update(
            l["id"] for l in course["lessons"])
        self.try_call({"op": "deleteCourses", "dirs": [course["dir"]]})
        self.log("delete course", course["id"])
        return course

    def forget(self, who, lid, folder):
        if lid in self.lessons[who]:
            self.lessons[who][lid] = "deleted"
            self.acted[who][lid] = self.now()
        if folder:
            self.deleted_dirs[who].setdefault(folder, set()).add(lid)

    def act(self, state):
        kinds = ["choose"] * 7 + ["pause"] * 2 + ["hold"] * 2 + [
            "first", "rate", "delete lesson", "switch", "relogin", "delete course", "retry"]
        kind = self.rng.choice(kinds)
        queue = state.get("queue", [])
        if kind == "choose":
            self.choose(state)
        elif kind == "pause":
            self.try_call({"op": "start", "on": not state.get("running", True)})
            self.log("pause all" if state.get("running", True) else "resume all")
        elif kind == "hold" and queue:
            lesson = self.rng.choice(queue)
            on = not lesson["paused"]
            self.try_call({"op": "hold", "dir": lesson["dir"], "on": on})
            self.log("hold" if on else "release", lesson["id"])
        elif kind == "first" and queue:
            lesson = self.rng.choice(queue)
            self.try_call({"op": "first", "dir": lesson["dir"]})
            self.log("download first", lesson["id"])
        elif kind == "rate":
            kb = self.rng.choice(["0", "0", "16", "64", "256", "2048"])
            self.try_call({"op": "rate", "kb": kb})
            self.log("speed limit", kb + " KB/s")
        elif kind == "delete lesson":
            self.delete_lesson(state)
        elif kind == "delete course" and self.rng.random() < 0.15:
            self.delete_course(state)
        elif kind == "switch":
            self.user = "B" if self.user == "A" else "A"
            self.log("switch user", self.user)
        elif kind == "retry":
            failed = [l for l in queue if l["state"] == 3] or [
                l for l in self.record_lessons(state).values() if l["state"] == 3]
            if failed:
                lesson = self.rng.choice(failed)
                self.try_call({"op": "retry", "dir": lesson["dir"]})
                self.log("retry", lesson["id"])
        elif kind == "relogin":
            self.try_call({"op": "logout"})
            self.logout_until = self.now() + self.rng.uniform(2, 15)
            self.log("logout", f"for {self.logout_until - self.now():.0f} s")

    # ---- faults ----------------------------------------------------------------------------
    def school_fault(self):
        r = self.rng
        kind = r.choice(["outage", "forget", "5xx", "trickle", "cut", "wrong key", "slow",
                         "refused key"])
        if kind == "outage":
            seconds = r.choice([r.uniform(2, 10), r.uniform(10, 60)])
            for route in ("/course_app/*", "/foreuser_app/*", "/stream/*", "/keyfile/*"):
                self.faults.append((self.now() + seconds, {"route": route, "drop": True}))
            self.set_faults()
            self.log("fault outage", f"{seconds:.0f} s")
        elif kind == "forget":
            self.school_call("/_school/sessions/forget", {})
            self.log("fault forget sessions")
            self.next_login = self.now() + r.uniform(3, 30)
        elif kind == "5xx":
            self.add_fault(kind, {"route": r.choice(["/stream/*", "/course_app/*"]),
                                  "status": r.choice([500, 502, 503]),
                                  "times": r.randint(3, 20)}, 60)
        elif kind == "trickle":
            self.add_fault(kind, {"route": "/stream/*", "rate": r.choice([4000, 16000])},
                           r.uniform(10, 40))
        elif kind == "cut":
            self.add_fault(kind, {"route": "/stream/*/seg*", "cut": r.randint(100, 40000),
                                  "times": r.randint(1, 6)}, 60)
        elif kind == "wrong key":
            self.add_fault(kind, {"route": "/stream/*/key", "body": "not a key",
                                  "times": r.randint(1, 3)}, 60)
        elif kind == "slow":
            self.add_fault(kind, {"route": r.choice(["/course_app/*", "/stream/*"]),
                                  "latency": r.randint(1000, 5000)}, r.uniform(10, 30))
        elif kind == "refused key":
            self.add_fault(kind, {"route": "/stream/*/key", "status": 403,
                                  "times": r.randint(1, 3)}, 60)

    def fill_disk(self):
        if not self.mounted or self.filler:
            return
        free = shutil.disk_usage(self.disk).free
        self.filler = self.disk / "filler"
        self.full_since = self.now()
        with open(self.filler, "wb") as out:
            chunk = b"\0" * (1 << 20)
            for _ in range(max(0, free // len(chunk) - 1)):
                out.write(chunk)
        self.filler_until = self.now() + self.rng.uniform(5, 40)
        self.log("fault full disk", f"{shutil.disk_usage(self.disk).free // 1024} KB left")

    def free_disk(self, force=False):
        if self.filler and (force or self.now() >= self.filler_until):
            self.filler.unlink()
            self.filler = None
            self.log("disk freed")
            # The downloads paused on the full disk; the student starts them again.
            self.try_call({"op": "start", "on": True})

    def process_fault(self, state):
        r = self.rng
        moment = r.choice(["download", "record", "delete"])
        if moment == "record":
            # Right after a choice: the record is being written.
            if self.choose(state) is None:
                return
            time.sleep(r.uniform(0, 0.3))
        elif moment == "delete":
            if not (self.delete_lesson(state) if r.random() < 0.7 else self.delete_course(state)):
                return
            time.sleep(r.uniform(0, 0.05))
        else:
            time.sleep(r.uniform(0, 1))
        self.kill_client("during " + moment)
        time.sleep(r.uniform(0, 2))
        self.start_client()
        self.after_restart()

    # ---- what is measured on the way ---------------------------------------------------------
    def idle_check(self, state):
        """The client waiting (downloads paused) uses next to no CPU and asks nothing."""
        if not state.get("login"):
            return
        self.try_call({"op": "start", "on": False})
        time.sleep(3)
        before_cpu, before = self.cpu_seconds(), self.school_call("/_school/stats")["requests"]
        time.sleep(10)
        cpu = (self.cpu_seconds() - before_cpu) / 10 * 100
        asked = self.school_call("/_school/stats")["requests"] - before
        self.idle_cpu.append(cpu)
        self.idle_requests.append(asked)
        self.log("idle check", f"cpu {cpu:.2f} %, {asked} requests in 10 s")
        if cpu >= IDLE_CPU_BOUND:
            self.violation(f"the client used {cpu:.2f} % CPU while its downloads were paused")
        if asked > 3:
            self.violation(f"{asked} requests in 10 s while the downloads were paused")
        self.try_call({"op": "start", "on": True})

    def check_request_rate(self):
        if len(self.stats) < 2:
            return
        t, total = self.stats[-1]
        older = [(ts, n) for ts, n in self.stats if ts <= t - 60]
        if older:
            per_minute = total - older[-1][1]
            if per_minute > REQUESTS_PER_MINUTE_BOUND:
                self.violation(f"{per_minute} requests to the school in a minute")

    def max_per_minute(self):
        best = 0
        for i, (t, total) in enumerate(self.stats):
            before = [n for ts, n in self.stats[:i] if ts <= t - 60]
            if before:
                best = max(best, total - before[-1])
        return best

    # ---- the run -----------------------------------------------------------------------------
    def run(self):
        self.prepare()
        try:
            self.start_school()
            self.start_client()
            self.login(self.user)
            self.next_login = self.now() + 8
            end = self.args.minutes * 60
            next_event = 5
            next_sample = 0
            while self.now() < end:
                if self.client.poll() is not None:
                    self.violation(f"the client ended by itself ({self.client.returncode})")
                    self.start_client()
                    self.after_restart()
                if self.now() >= next_sample:
                    self.sample_requests()
                    self.check_request_rate()
                    next_sample = self.now() + 5
                if self.faults and min(u for u, _ in self.faults) <= self.now():
                    self.set_faults()
                self.free_disk()
                state = self.state()
                self.measure_life(state)
                self.keep_logged_in(state)
                if self.now() >= next_event and state:
                    roll = self.rng.random()
                    # About one kill a minute and a half, a full disk every two or three.
                    if roll < 0.62:
                        self.act(state)
                    elif roll < 0.86:
                        self.school_fault()
                    elif roll < 0.92:
                        self.process_fault(state)
                    elif roll < 0.96:
                        self.fill_disk()
                    else:
                        self.idle_check(state)
                    next_event = self.now() + self.rng.uniform(1, 6)
                time.sleep(0.5)
            self.finish()
        finally:
            self.teardown()
        return self.report()

    def finish(self):
        """All faults lifted, every lesson resumed and given time; then the checks."""
        self.log("end", "faults lifted")
        self.faults = []
        self.set_faults()
        self.free_disk(force=True)
        self.logout_until = 0
        self.settled = {}
        for key in [k for k in USERS if k != self.user] + [self.user]:
            if not any(s == "chosen" for s in self.lessons[key].values()):
                continue
            self.user = key
            self.next_login = 0
            self.settle(key)
        self.sample_requests()
        self.check_request_rate()
        self.end_life()

    def settle(self, key):
        deadline = self.now() + self.args.settle
        report_at = self.now() + 30
        self.try_call({"op": "rate", "kb": "0"})
        while self.now() < deadline:
            state = self.state()
            self.keep_logged_in(state)
            if not state.get("login") or self.user_of(state.get("user")) != key:
                time.sleep(1)
                continue
            if not state.get("running"):
                self.try_call({"op": "start", "on": True})
            for lesson in state.get("queue", []):
                if lesson["paused"]:
                    self.try_call({"op": "hold", "dir": lesson["dir"], "on": False})
            found = self.record_lessons(state)
            for lesson in found.values():
                if lesson["state"] == 3:
                    self.try_call({"op": "retry", "dir": lesson["dir"]})
            wanted = [lid for lid, s in self.lessons[key].items() if s == "chosen"]
            missing = [lid for lid in wanted if found.get(lid, {}).get("state") != 2]
            if not missing and not state["queue"]:
                self.log("settled", f"{key}: {len(wanted)} lessons")
                break
            if self.now() >= report_at:
                report_at = self.now() + 30
                self.log("settling", f"{key}: waiting for {missing[:6]}, queue "
                         f"{[(l['id'], l['state'], l['paused'], l['waiting']) for l in state['queue']][:6]}")
            time.sleep(2)
        self.check_user(key, self.state())

    def check_user(self, key, state):
        found = self.record_lessons(state)
        wanted = [lid for lid, s in self.lessons[key].items() if s == "chosen"]
        downloaded = [l for l in found.values() if l["state"] == 2]
        self.downloaded = getattr(self, "downloaded", 0) + len(downloaded)
        self.chosen_total = getattr(self, "chosen_total", 0) + len(wanted)
        for lid in wanted:
            if lid not in found:
                self.violation(f"{key}: lesson {lid} was chosen and is lost from the record")
            elif found[lid]["state"] != 2:
                self.violation(f"{key}: lesson {lid} is stuck at state {found[lid]['state']} "
                               f"({found[lid].get('failReason', '')})")
        for lesson in downloaded:
            media = self.media_of.get(lesson["id"])
            judge = subprocess.run([str(self.build / "tests/soak/soakcheck"), lesson["dir"],
                                    str(self.media_dir / "lessons" / media)], capture_output=True, text=True,
                                   env=dict(os.environ, TMPDIR=str(self.work)))
            verdict = judge.stdout.strip().splitlines()[-1] if judge.stdout.strip() else ""
            if judge.returncode != 0:
                self.violation(f"{key}: lesson {lesson['id']} is marked downloaded and is not "
                               f"whole: {verdict or judge.stderr[-300:]}")
            else:
                self.checked = getattr(self, "checked", 0) + 1
        # Nothing of a deleted lesson or course is left, unless it was chosen again.
        kept = {l["dir"] for l in found.values() if l.get("dir")}
        for folder, ids in self.deleted_dirs[key].items():
            if any(self.lessons[key].get(i) == "chosen" for i in ids):
                continue
            if Path(folder).exists() and not any(k.startswith(folder + "/") or k == folder
                                                 for k in kept):
                self.violation(f"{key}: the deleted {folder} is still on disk: "
                               f"{sorted(os.listdir(folder))[:5]}")

    def check_files(self):
        temporary = re.compile(r"(\.part$|\.tmp$|\.[A-Za-z0-9]{6}$)")
        left = []
        for folder in (self.docs, self.videos, self.tmp):
            for path in folder.rglob("*"):
                name = path.name
                suffix = name.rsplit(".", 1)[-1] if "." in name else ""
                if path.is_file() and temporary.search(name) and (
                        not suffix.isalpha() or not suffix.islower() or name.endswith(
                            (".part", ".tmp"))):
                    left.append(str(path.relative_to(self.work)))
        left += [str(p.relative_to(self.work)) for p in self.tmp.rglob("*")
                 if p.is_file() and str(p.relative_to(self.work)) not in left]
        if left:
            self.violation(f"temporary files left: {left[:8]}")
        # Outside the data and download folders only the toolkit's own caches may appear.
        # (.dbus: the session bus's own address file, written when the client asks for it.)
        allowed = (".cache/", ".config/QtProject.conf", ".local/share/", ".dbus/")
        outside = [str(p.relative_to(self.home)) for p in self.home.rglob("*")
                   if p.is_file() and not str(p.relative_to(self.home)).startswith(allowed)]
        if outside:
            self.violation(f"files written outside the data and download folders: {outside[:8]}")

    def teardown(self):
        if self.client and self.client.poll() is None:
            self.client.kill()
            self.client.wait()
        if getattr(self, "school", None):
            self.school.kill()
            self.school.wait()

    def unmount(self):
        if getattr(self, "mounted", False):
            subprocess.run(["umount", "-l", str(self.disk)])
            self.mounted = False

    def report(self):
        self.check_files()
        if not (self.args.keep or self.violations):
            self.unmount()
        minutes = self.now() / 60
        # Lives measured for under a minute say more about the moment than about growth.
        long_lives = [life for life in self.lives if life[2] >= 60]
        growth = 0.0
        life_seconds = sum(s for _, _, s in long_lives)
        if life_seconds > 0:
            growth = sum(end - start for start, end, _ in long_lives) / life_seconds * 3600
        print(f"seed {self.args.seed}")
        print(f"minutes {minutes:.1f}")
        print("events " + ", ".join(f"{k} {n}" for k, n in sorted(self.kinds.items())))
        print("kills by moment " + (", ".join(f"{k} {n}" for k, n in sorted(self.kills.items()))
                                    or "none"))
        print(f"record loads after a restart {self.loads}")
        print(f"choices lost in a kill within {UNSAVED_WINDOW} s {self.lost_in_kill}, "
              f"with the disk full {self.lost_to_full_disk}")
        print(f"requests per minute at most {self.max_per_minute()} "
              f"(bound {REQUESTS_PER_MINUTE_BOUND})")
        if self.idle_cpu:
            print(f"cpu while waiting at most {max(self.idle_cpu):.2f} % over "
                  f"{len(self.idle_cpu)} checks, requests {max(self.idle_requests)} in 10 s")
        for i, (start, end, seconds) in enumerate(self.lives, 1):
            print(f"  life {i}: pss {start} -> {end} KB over {seconds:.0f} s")
        if self.lives:
            print(f"pss start {self.lives[0][0]} KB, end {self.lives[-1][1]} KB, "
                  f"growth {growth:.0f} KB per hour of run time over {len(long_lives)} lives "
                  f"of a minute or more ({len(self.lives)} measured)")
        print(f"lessons chosen at the end {getattr(self, 'chosen_total', 0)}")
        print(f"lessons checked whole {getattr(self, 'checked', 0)}")
        print(f"kills {sum(self.kills.values())}")
        print(f"lessons downloaded {getattr(self, 'downloaded', 0)}")
        print(f"violations {len(self.violations)}")
        if self.violations:
            print(f"reproduce with: scripts/soak --seed {self.args.seed} "
                  f"--minutes {self.args.minutes:g}")
            print(f"the run's folder is kept: {self.work}" +
                  (f" (umount {self.disk} when done)" if self.mounted else ""))
            return 1
        if not self.args.keep:
            shutil.rmtree(self.work, ignore_errors=True)
        return 0


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--seed", type=int, default=int(time.time()) % 1000000)
    parser.add_argument("--minutes", type=float, default=10)
    parser.add_argument("--quick", action="store_true", help="two minutes")
    parser.add_argument("--build", default=str(ROOT / "build"))
    parser.add_argument("--settle", type=float, default=300,
                        help="seconds each student's lessons get to finish at the end")
    parser.add_argument("--disk-mb", type=int, default=768)
    parser.add_argument("--no-mount", action="store_true")
    parser.add_argument("--keep", action="store_true", help="keep the run's folder")
    parser.add_argument("--verbose", action="store_true")
    args = parser.parse_args()
    if args.quick:
        args.minutes = 2
    print(f"soak: seed {args.seed}, {args.minutes:g} minutes", flush=True)
    soak = Soak(args)
    try:
        code = soak.run()
    except BaseException:
        soak.unmount()  # a soak that broke off leaves no mount behind
        raise
    sys.exit(code)


if __name__ == "__main__":
    main()
