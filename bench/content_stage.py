#!/usr/bin/env python3
"""Content stage throughput: tarvex-cli against a Scrapy spider doing the same work.

Usage: bench/content_stage.py [--cli build-release/bin/tarvex-cli] [--rows 1000] [--keep]

Builds a loopback site of `rows` real-size articles (about 100 KB each, ten fields, two images
each) served by nginx (Debian's nginx-light), then
  1. runs `tarvex-cli run ID --stages content` on a task whose database holds the article
     addresses, pauses 0, three content workers: every field cut out, both images downloaded
     and recorded, the image tags rewritten, the record stored;
  2. runs a Scrapy spider (Debian's python3-scrapy) doing the same: the same addresses, the same
     patterns, three concurrent requests, both images fetched through Scrapy's FilesPipeline,
     the tags rewritten and every item stored in SQLite.
Step 1 runs twice, without and with the workspace's "log" folder (the run log on, every detail
line written). Prints rows/s, wall time and peak resident set of every process, the ratios and
the share of a run that the log costs.
"""
import argparse
import os
import re
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

# (field, text before, text after); "{*}" skips as little as possible, as in the task rules.
FIELDS = [
    ("标题", '<h1 class="title">', "</h1>"),
    ("作者", '<span class="author">', "</span>"),
    ("日期", '<span class="date">', "</span>"),
    ("来源", '<span class="source">', "</span>"),
    ("阅读", '<span class="views">阅读 ', "</span>"),
    ("栏目", '<a class="cat"{*}>', "</a>"),
    ("标签", '<div class="tags">标签：', "</div>"),
    ("摘要", '<div class="summary">', "</div>"),
    ("正文", '<div class="content">', "</div>"),
    ("编辑", '<div class="editor"{*}>责任编辑：', "</div>"),
]
IMAGE_FIELD = "正文"

FILLER = ("采集器把列表页中的内容页网址取出来，再从每个内容页中按字段规则截取标题、正文与图片，"
          "经过处理后写入数据库，最后发布到自己的网站。")


def article(n):
    para = "".join("<p>%s 第%d段。</p>\n" % (FILLER, k) for k in range(200))
    nav = "".join('<a href="/c/%d.html">栏目导航%d</a> ' % (k, k) for k in range(120))
    foot = "".join("<li>友情链接%d %s</li>" % (k, FILLER[:20]) for k in range(120))
    return (
        '<!DOCTYPE html><html><head><meta charset="utf-8"><title>文章%d</title></head><body>\n'
        '<div class="nav">%s</div>\n'
        '<h1 class="title">文章标题%d</h1>\n'
        '<div class="meta"><span class="author">作者%d</span><span class="date">2024-05-%02d</span>'
        '<span class="source">来源%d</span><span class="views">阅读 %d</span></div>\n'
        '<div class="crumbs">首页 &gt; <a class="cat" href="/c/%d.html">栏目%d</a></div>\n'
        '<div class="tags">标签：<em>标签%d</em><em>标签%d</em></div>\n'
        '<div class="summary">这是第%d篇文章的摘要。</div>\n'
        '<div class="content">%s<p><img alt="图一" src="/img/%d_1.jpg"></p>\n%s'
        '<p><img src="/img/%d_2.jpg" width="300"></p></div>\n'
        '<div class="editor" id="e%d">责任编辑：编辑%d</div>\n'
        '<ul class="footer">%s</ul></body></html>\n'
        % (n, nav, n, n % 50, n % 28 + 1, n % 7, n * 13, n % 12, n % 12, n % 30, n % 40 + 30, n,
           para, n, para, n, n, n % 9, foot))


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def start_nginx(work, site, port):
    conf = os.path.join(work, "nginx.conf")
    with open(conf, "w") as f:
        f.write("""
worker_processes 1;
daemon off;
pid {w}/nginx.pid;
error_log {w}/nginx-error.log;
events {{ worker_connections 1024; }}
http {{
  access_log off;
  sendfile on;
  client_body_temp_path {w}/tmp-body;
  proxy_temp_path {w}/tmp-proxy;
  fastcgi_temp_path {w}/tmp-fastcgi;
  uwsgi_temp_path {w}/tmp-uwsgi;
  scgi_temp_path {w}/tmp-scgi;
  types {{ text/html html; image/jpeg jpg; }}
  server {{
    listen 127.0.0.1:{p};
    root {s};
    location /img/ {{ try_files /img.jpg =404; }}
  }}
}}
""".format(w=work, s=site, p=port))
    proc = subprocess.Popen(["/usr/sbin/nginx", "-c", conf, "-p", work], stderr=subprocess.DEVNULL)
    for _ in range(100):
        try:
            socket.create_connection(("127.0.0.1", port), timeout=0.2).close()
            return proc
        except OSError:
            time.sleep(0.05)
    proc.kill()
    sys.exit("nginx did not start")


def measured(cmd, **kw):
    """Runs a command; returns (wall seconds, peak RSS in MB, exit status)."""
    start = time.monotonic()
    proc = subprocess.Popen(cmd, **kw)
    _, status, usage = os.wait4(proc.pid, 0)
    wall = time.monotonic() - start
    return wall, usage.ru_maxrss / 1024.0, os.waitstatus_to_exitcode(status)


def field_rule(title, front, back):
    import json
    rule = {"title": title, "check_null": "0", "check_mulpage": "0", "check_morepage": "0",
            "radio_1": "-1", "radio_2": "0", "radio_3": "0", "radio_1_content": [front, back],
            "txt_strips": []}
    if title == IMAGE_FIELD:
        rule["file_save"] = ["-1", "/uploads/{dd:原文件名}", "-1", "0"]
        rule["file_save_diy"] = "pics"
    return json.dumps(rule, ensure_ascii=False)


def run_tarvex(cli, work, base, rows, with_log=False):
    import json
    ws = os.path.join(work, "workspace-log" if with_log else "workspace")
    os.makedirs(os.path.join(ws, "config"))
    os.makedirs(os.path.join(ws, "data"))
    if with_log:
        # The folder switches the run log on, every detail line included.
        os.makedirs(os.path.join(ws, "log"))
    shutil.copy(os.path.join(ROOT, "demo", "workspace", "config", "config.db3"), os.path.join(ws, "config"))
    settings = {"other_time1": "0", "other_time2": "0", "gettnum": "3",
                "fieldsAll": [field_rule(*f) for f in FIELDS]}
    path = os.path.join(ws, "settings.json")
    with open(path, "w") as f:
        json.dump(settings, f, ensure_ascii=False)
    out = subprocess.run([cli, "--workspace", ws, "task", "create", "内容基准", "--settings", path],
                         check=True, capture_output=True, text=True).stdout
    task = int(out.strip().splitlines()[-1])
    db = os.path.join(ws, "data", "%d.db3" % task)
    con = sqlite3.connect(db)
    con.executemany("insert into content(url, geturl) values (?, 1)",
                    [("%s/a/%d.html" % (base, n),) for n in range(1, rows + 1)])
    con.commit()
    con.close()
    log = open(os.path.join(work, "tarvex-run%s.txt" % ("-log" if with_log else "")), "w")
    wall, rss, status = measured([cli, "--workspace", ws, "run", str(task), "--stages", "content"],
                                 stdout=log, stderr=subprocess.STDOUT)
    con = sqlite3.connect(db)
    stored = con.execute("select count(*) from content where getc=1").fetchone()[0]
    files = con.execute("select count(*) from download").fetchone()[0]
    sample = con.execute("select 标题, 栏目, 编辑 from content where id=1").fetchone()
    con.close()
    return wall, rss, status, stored, files, sample


def run_scrapy(python, work, base, rows):
    urls = os.path.join(work, "urls.txt")
    with open(urls, "w") as f:
        for n in range(1, rows + 1):
            f.write("%s/a/%d.html\n" % (base, n))
    db = os.path.join(work, "scrapy.db3")
    env = dict(os.environ, SCRAPY_SETTINGS_MODULE="")
    log = open(os.path.join(work, "scrapy-run.txt"), "w")
    wall, rss, status = measured(
        [python, os.path.join(HERE, "content_stage_spider.py"), urls, db, os.path.join(work, "scrapy-files")],
        stdout=log, stderr=subprocess.STDOUT, env=env, cwd=work)
    stored = files = 0
    sample = None
    if os.path.exists(db):
        con = sqlite3.connect(db)
        stored = con.execute("select count(*) from content").fetchone()[0]
        files = con.execute("select count(*) from download").fetchone()[0]
        sample = con.execute("select 标题, 栏目, 编辑 from content order by url limit 1").fetchone()
        con.close()
    return wall, rss, status, stored, files, sample


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--cli", default=os.path.join(ROOT, "build-release", "bin", "tarvex-cli"))
    ap.add_argument("--rows", type=int, default=1000)
    ap.add_argument("--python", default="/usr/bin/python3", help="the Python that has Debian's python3-scrapy")
    ap.add_argument("--keep", action="store_true", help="keep the work folder")
    ap.add_argument("--dir", default=None, help="where the site, workspace and databases go (default: the "
                    "system's temporary folder); /dev/shm takes the disk's sync time out of both runs")
    args = ap.parse_args()
    if not os.access(args.cli, os.X_OK):
        sys.exit("no tarvex-cli at %s (build the release preset, or pass --cli)" % args.cli)

    work = tempfile.mkdtemp(prefix="tarvex-bench-content-", dir=args.dir)
    os.chmod(work, 0o755)
    site = os.path.join(work, "site")
    os.makedirs(os.path.join(site, "a"))
    for n in range(1, args.rows + 1):
        with open(os.path.join(site, "a", "%d.html" % n), "w") as f:
            f.write(article(n))
    subprocess.run(["vips", "gaussnoise", os.path.join(work, "noise.v"), "320", "240"], check=True)
    subprocess.run(["vips", "copy", os.path.join(work, "noise.v"), os.path.join(site, "img.jpg") + "[Q=80]"],
                   check=True)
    page_kb = os.path.getsize(os.path.join(site, "a", "1.html")) / 1024
    image_kb = os.path.getsize(os.path.join(site, "img.jpg")) / 1024
    port = free_port()
    nginx = start_nginx(work, site, port)
    base = "http://127.0.0.1:%d" % port
    try:
        print("site: %d articles of %.0f KB, 10 fields, 2 images of %.0f KB each, nginx on %s"
              % (args.rows, page_kb, image_kb, base))
        t = run_tarvex(args.cli, work, base, args.rows)
        print("tarvex-cli, no log: %d rows stored, %d files recorded in %.2f s = %.1f rows/s, peak RSS %.1f MB, "
              "exit %d" % (t[3], t[4], t[0], t[3] / t[0], t[1], t[2]))
        tl = run_tarvex(args.cli, work, base, args.rows, with_log=True)
        print("tarvex-cli, log on: %d rows stored, %d files recorded in %.2f s = %.1f rows/s, peak RSS %.1f MB, "
              "exit %d" % (tl[3], tl[4], tl[0], tl[3] / tl[0], tl[1], tl[2]))
        s = run_scrapy(args.python, work, base, args.rows)
        print("scrapy:             %d rows stored, %d files recorded in %.2f s = %.1f rows/s, peak RSS %.1f MB, "
              "exit %d" % (s[3], s[4], s[0], s[3] / s[0], s[1], s[2]))
        if t[5] != s[5]:
            print("warning: the first records differ: %r / %r" % (t[5], s[5]))
        if s[3] and t[3] and tl[3]:
            print("ratio (rows/s, tarvex / scrapy, both 3 concurrent requests): %.2fx without the log, %.2fx with it"
                  % ((t[3] / t[0]) / (s[3] / s[0]), (tl[3] / tl[0]) / (s[3] / s[0])))
            print("the run log (log folder present vs absent) costs %.0f%% of a run (%.2f s of %.2f s)"
                  % (100 * (tl[0] - t[0]) / tl[0], tl[0] - t[0], tl[0]))
    finally:
        nginx.terminate()
        nginx.wait()
        if args.keep:
            print("work folder kept:", work)
        else:
            shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
