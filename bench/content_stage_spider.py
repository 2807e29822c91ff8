#!/usr/bin/env python3
"""The Scrapy side of bench/content_stage.py: the same work as tarvex-cli's content stage.

Usage: content_stage_spider.py URLS_FILE DB FILES_FOLDER

Fetches every address of URLS_FILE with three concurrent requests, cuts the ten fields out with
the same front and back texts (as regular expressions, "{*}" as ".*?"), downloads the images of
the body through FilesPipeline, rewrites their tags to the saved files and stores each item and
its files in SQLite, one commit per item like the content workers.
"""
import os
import re
import sqlite3
import sys

import scrapy
from scrapy.crawler import CrawlerProcess
from scrapy.pipelines.files import FilesPipeline

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from content_stage import FIELDS, IMAGE_FIELD  # noqa: E402


def cut_pattern(front, back):
    def piece(text):
        return ".*?".join(re.escape(p) for p in text.split("{*}"))
    return re.compile(piece(front) + "(.*?)" + piece(back), re.S)


PATTERNS = [(title, cut_pattern(front, back)) for title, front, back in FIELDS]
IMAGE = re.compile(r"""<img(?P<imgbehind>[^>]*?)src\s*=\s*["|']?(?P<fileurl>[^ ]*?)["|'| ]""", re.S | re.I)


class ArticleSpider(scrapy.Spider):
    name = "articles"

    def start_requests(self):
        with open(self.urls_file) as f:
            for line in f:
                if line.strip():
                    yield scrapy.Request(line.strip(), callback=self.parse)

    def parse(self, response):
        text = response.text
        item = {"url": response.url}
        for title, pattern in PATTERNS:
            m = pattern.search(text)
            item[title] = m.group(1) if m else ""
        tags = [(m.group(0), response.urljoin(m.group("fileurl").strip())) for m in IMAGE.finditer(item[IMAGE_FIELD])]
        item["tags"] = tags
        item["file_urls"] = [remote for _, remote in tags]
        yield item


class SqliteStore:
    def open_spider(self, spider):
        self.con = sqlite3.connect(spider.settings.get("STORE_DB"))
        columns = ",".join('"%s" TEXT' % title for title, _, _ in FIELDS)
        self.con.execute("create table content(id integer primary key, url text, %s)" % columns)
        self.con.execute("create table download(id integer primary key, cid integer, remoteurl text, "
                         "localurl text, newurl text)")
        self.store = spider.settings.get("FILES_STORE")

    def close_spider(self, spider):
        self.con.close()

    def process_item(self, item, spider):
        saved = {f["url"]: f["path"] for f in item.get("files", [])}
        body = item[IMAGE_FIELD]
        for tag, remote in item["tags"]:
            if remote in saved:
                body = body.replace(tag, '<img src="/uploads/%s"' % os.path.basename(saved[remote]))
        item[IMAGE_FIELD] = body
        titles = [title for title, _, _ in FIELDS]
        cur = self.con.execute(
            "insert into content(url, %s) values (?, %s)" % (",".join('"%s"' % t for t in titles),
                                                              ",".join("?" * len(titles))),
            [item["url"]] + [item[t] for t in titles])
        for remote, path in saved.items():
            self.con.execute("insert into download(cid, remoteurl, localurl, newurl) values (?, ?, ?, ?)",
                             (cur.lastrowid, remote, os.path.join(self.store, path),
                              "/uploads/" + os.path.basename(path)))
        self.con.commit()
        return item


def main():
    urls_file, db, files = sys.argv[1:4]
    process = CrawlerProcess(settings={
        "CONCURRENT_REQUESTS": 3,
        "CONCURRENT_REQUESTS_PER_DOMAIN": 3,
        "DOWNLOAD_DELAY": 0,
        "ROBOTSTXT_OBEY": False,
        "COOKIES_ENABLED": False,
        "RETRY_ENABLED": False,
        "TELNETCONSOLE_ENABLED": False,
        "LOG_LEVEL": "ERROR",
        "REQUEST_FINGERPRINTER_IMPLEMENTATION": "2.7",
        "ITEM_PIPELINES": {"scrapy.pipelines.files.FilesPipeline": 1, "__main__.SqliteStore": 300},
        "FILES_STORE": files,
        "STORE_DB": db,
    })
    process.crawl(ArticleSpider, urls_file=urls_file)
    process.start()


if __name__ == "__main__":
    main()
