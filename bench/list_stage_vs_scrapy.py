#!/usr/bin/env python3
"""The list stage against a Scrapy spider doing the same work on the same loopback site.

A static site of LIST_PAGES list pages (about 40 KB each, LINKS links each) is served by nginx
(Debian's nginx-light) on 127.0.0.1. Then, one request at a time and with no pauses:

  - `tarvex-cli run ID --stages list` on a fresh workspace, once without and once with the
    workspace's "log" folder (the run log on, every detail line written);
  - a Scrapy spider (Debian's python3-scrapy) that cuts the same list area and matches the same
    link pattern with Python's re, resolves and filters the links, drops duplicates and stores
    the rows into SQLite with the same columns, one transaction per page.

Each is run RUNS times on a fresh database; the best wall time of the whole process counts, and
the processor time (user + system) of that process is shown beside it, which a busy machine
disturbs less. Prints pages/s and rows/s and the ratios to Scrapy.

Usage: bench/list_stage_vs_scrapy.py [--cli PATH] [--pages N] [--links N] [--runs N] [--python PATH]
  --cli defaults to build-release/bin/tarvex-cli beside this script's folder.
"""
import argparse
import json
import os
import resource
import shutil
import socket
import sqlite3
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)

BEGIN = '<ul class="list">'
END = "</ul>"
LINK_PATTERN = '<a href="{DD:采集网址}" title="{DD:字段=列表标题}"'
PAGE_BYTES = 40 * 1024

SPIDER = r'''
import re, sqlite3, sys, time
import scrapy
from scrapy.crawler import CrawlerProcess

base, pages, db_path = sys.argv[1], int(sys.argv[2]), sys.argv[3]
area_re = re.compile(re.escape(%(begin)r) + r"(?P<area>.*?)" + re.escape(%(end)r), re.S | re.I)
link_re = re.compile(r'<a href="(?P<url>.*?)" title="(?P<title>.*?)"', re.S | re.I)

class ListSpider(scrapy.Spider):
    name = "list"
    custom_settings = {
        "CONCURRENT_REQUESTS": 1, "DOWNLOAD_DELAY": 0, "LOG_ENABLED": False,
        "ROBOTSTXT_OBEY": False, "TELNETCONSOLE_ENABLED": False, "COOKIES_ENABLED": False,
        "RETRY_ENABLED": False, "REDIRECT_ENABLED": True, "HTTPCACHE_ENABLED": False,
    }

    def start_requests(self):
        self.db = sqlite3.connect(db_path)
        self.known = set(u for (u,) in self.db.execute("select url from content"))
        for p in range(1, pages + 1):
            yield scrapy.Request(f"{base}/list/{p}.html", dont_filter=True, priority=-p)

    def parse(self, response):
        m = area_re.search(response.text)
        if not m:
            return
        rows = []
        for link in link_re.finditer(m.group("area")):
            href = link.group("url")
            if "html" not in href:
                continue
            url = response.urljoin(href)
            if url in self.known:
                continue
            self.known.add(url)
            rows.append((url, "", "", link.group("title")))
        with self.db:
            self.db.executemany(
                "insert into content(id,url,geturl,getc,postc,标题,内容,列表标题) values (null,?,1,0,0,?,?,?)", rows)

    def closed(self, reason):
        self.db.close()

started = time.monotonic()
process = CrawlerProcess()
process.crawl(ListSpider)
process.start()
print("crawl %%.3f" %% (time.monotonic() - started))
''' % {"begin": BEGIN, "end": END}

NGINX_CONF = """
worker_processes 1;
error_log {dir}/error.log;
pid {dir}/nginx.pid;
events {{ worker_connections 64; }}
http {{
    access_log off;
    sendfile on;
    default_type text/html;
    server {{
        listen 127.0.0.1:{port};
        root {dir}/site;
    }}
}}
"""


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def make_site(folder, pages, links):
    os.makedirs(os.path.join(folder, "list"))
    filler = "<p>" + "这是列表页上的其他内容，用来让页面有真实的大小。" * 4 + "</p>\n"
    for p in range(1, pages + 1):
        items = "".join(
            f'<li><a href="/news/{p}/{i}.html" title="第{p}页第{i}条新闻标题">新闻标题{p}-{i}</a>'
            f"<span>2019-05-01</span></li>\n" for i in range(1, links + 1))
        head = "<html><head><meta charset=\"utf-8\"><title>列表</title></head><body>\n"
        body = head + '<div class="nav"><a href="/index.html">首页</a></div>\n' + BEGIN + "\n" + items + END + "\n"
        while len(body.encode()) < PAGE_BYTES:
            body += filler
        with open(os.path.join(folder, "list", f"{p}.html"), "w", encoding="utf-8") as f:
            f.write(body + "</body></html>\n")


def start_nginx(folder, port):
    with open(os.path.join(folder, "nginx.conf"), "w") as f:
        f.write(NGINX_CONF.format(dir=folder, port=port))
    proc = subprocess.Popen(["nginx", "-p", folder, "-c", os.path.join(folder, "nginx.conf"), "-g", "daemon off;"],
                            stderr=subprocess.DEVNULL)
    for _ in range(100):
        try:
            with socket.create_connection(("127.0.0.1", port), timeout=0.1):
                return proc
        except OSError:
            time.sleep(0.05)
    proc.kill()
    sys.exit("nginx did not start")


def settings_document(base, pages):
    more = {"More_urls": [f"列表合成={base}/list/{{参数}}.html[,]1,{pages},1"], "More_begin": BEGIN,
            "More_end": END, "More_url_regex": LINK_PATTERN, "More_include": "html", "More_exclude": "",
            "More_check_referer": "0", "More_readtimeout": "20", "More_check_repeat_title": "0",
            "More_sort": "0", "More_mulpage": ""}
    fields = [json.dumps({"title": "标题"}, ensure_ascii=False), json.dumps({"title": "内容"}, ensure_ascii=False)]
    return {"Morepage": json.dumps(more, ensure_ascii=False), "other_time1": "0", "other_time2": "0",
            "other_url_max": "", "fieldsAll": fields}


def make_workspace(folder, cli, doc, with_log):
    os.makedirs(os.path.join(folder, "config"))
    os.makedirs(os.path.join(folder, "data"))
    if with_log:
        os.makedirs(os.path.join(folder, "log"))
    db = sqlite3.connect(os.path.join(folder, "config", "config.db3"))
    db.executescript(
        "CREATE TABLE vorn_task(id INTEGER PRIMARY KEY AUTOINCREMENT, fuid INTEGER, name TEXT, description TEXT,"
        " rules TEXT);"
        "CREATE TABLE qz_task(ID INTEGER PRIMARY KEY AUTOINCREMENT, isbase INTEGER, taskid INTEGER, name TEXT,"
        " idfather INTEGER, basenotes TEXT, rules TEXT);")
    db.close()
    settings = os.path.join(folder, "settings.json")
    with open(settings, "w", encoding="utf-8") as f:
        json.dump(doc, f, ensure_ascii=False)
    out = subprocess.run([cli, "--workspace", folder, "task", "create", "bench", "--settings", settings],
                         capture_output=True, text=True, check=True).stdout
    task_id = int("".join(c for c in out if c.isdigit()))
    return task_id, os.path.join(folder, "data", f"{task_id}.db3")


def count_rows(db_path):
    db = sqlite3.connect(db_path)
    n, distinct = db.execute("select count(*), count(distinct url) from content").fetchone()
    db.close()
    return n, distinct


def timed(cmd, **kwargs):
    """Runs a command; its wall time, its processor time and its result."""
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    started = time.monotonic()
    result = subprocess.run(cmd, check=True, **kwargs)
    took = time.monotonic() - started
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    cpu = (after.ru_utime - before.ru_utime) + (after.ru_stime - before.ru_stime)
    return took, cpu, result


def time_tarvex(cli, base, pages, with_log, runs, tmp):
    best, cpu, rows = None, None, None
    for r in range(runs):
        folder = os.path.join(tmp, f"ws-{'log' if with_log else 'nolog'}-{r}")
        task_id, db = make_workspace(folder, cli, settings_document(base, pages), with_log)
        took, used, _ = timed([cli, "--workspace", folder, "run", str(task_id), "--stages", "list"],
                              stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        rows = count_rows(db)
        if best is None or took < best:
            best, cpu = took, used
    return best, cpu, rows


def time_scrapy(python, base, pages, runs, tmp):
    spider = os.path.join(tmp, "spider.py")
    with open(spider, "w", encoding="utf-8") as f:
        f.write(SPIDER)
    best, cpu, rows, crawl = None, None, None, None
    for r in range(runs):
        db_path = os.path.join(tmp, f"scrapy-{r}.db3")
        db = sqlite3.connect(db_path)
        db.execute("CREATE TABLE content(id INTEGER PRIMARY KEY,url TEXT,geturl  TINYINT(1)  DEFAULT '0',"
                   "getc TINYINT(1)  DEFAULT '0',postc TINYINT(1)  DEFAULT '0',标题 TEXT,内容 TEXT,列表标题 TEXT)")
        db.commit()
        db.close()
        took, used, result = timed([python, spider, base, str(pages), db_path], capture_output=True, text=True)
        rows = count_rows(db_path)
        if best is None or took < best:
            best, cpu = took, used
            crawl = float(result.stdout.split()[-1])
    return best, cpu, crawl, rows


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--cli", default=os.path.join(ROOT, "build-release", "bin", "tarvex-cli"))
    ap.add_argument("--pages", type=int, default=300)
    ap.add_argument("--links", type=int, default=100)
    ap.add_argument("--runs", type=int, default=3)
    # Debian's python3-scrapy belongs to the system's Python.
    ap.add_argument("--python", default="/usr/bin/python3")
    args = ap.parse_args()
    for tool in ("nginx",):
        if not shutil.which(tool):
            sys.exit(f"{tool} is missing: scripts/install-deps installs nginx-light")
    if not os.access(args.cli, os.X_OK):
        sys.exit(f"no tarvex-cli at {args.cli} (build the release preset)")

    tmp = tempfile.mkdtemp(prefix="tarvex-bench-list-")
    os.chmod(tmp, 0o755)  # nginx's worker may run as another user
    nginx = None
    try:
        make_site(os.path.join(tmp, "site"), args.pages, args.links)
        port = free_port()
        nginx = start_nginx(tmp, port)
        base = f"http://127.0.0.1:{port}"
        expected = args.pages * args.links
        print(f"site: {args.pages} list pages of {PAGE_BYTES // 1024} KB, {args.links} links each, nginx on {base}")

        wall, cpu = {}, {}
        for label, with_log in (("tarvex, no log", False), ("tarvex, log on", True)):
            took, used, rows = time_tarvex(args.cli, base, args.pages, with_log, args.runs, tmp)
            wall[label], cpu[label] = took, used
            print(f"{label:16s} {took:6.2f} s (cpu {used:5.2f} s)  {args.pages / took:7.0f} pages/s"
                  f"  {expected / took:8.0f} rows/s  rows {rows[0]} ({rows[1]} distinct, expected {expected})")
        took, used, crawl, rows = time_scrapy(args.python, base, args.pages, args.runs, tmp)
        wall["scrapy"], cpu["scrapy"] = took, used
        print(f"{'scrapy 2.8':16s} {took:6.2f} s (cpu {used:5.2f} s)  {args.pages / took:7.0f} pages/s"
              f"  {expected / took:8.0f} rows/s  rows {rows[0]} ({rows[1]} distinct); crawl alone {crawl:.2f} s")
        for what, t in (("wall time", wall), ("processor time", cpu)):
            print(f"{what}: tarvex is {t['scrapy'] / t['tarvex, no log']:.2f}x scrapy without the log, "
                  f"{t['scrapy'] / t['tarvex, log on']:.2f}x with it; "
                  f"the run log (log folder present vs absent) costs "
                  f"{100 * (1 - t['tarvex, no log'] / t['tarvex, log on']):.0f}% of a run")
    finally:
        if nginx:
            nginx.terminate()
            nginx.wait()
        shutil.rmtree(tmp, ignore_errors=True)


if __name__ == "__main__":
    main()
