# The same extraction as the engine benchmark, with Scrapy: one request at a time, CSS
# selectors, records fed to a JSON-lines file. Usage: scrapy_list.py BASE_URL PAGES OUT
import sys

import scrapy
from scrapy.crawler import CrawlerProcess

BASE, PAGES, OUT = sys.argv[1], int(sys.argv[2]), sys.argv[3]


class ListSpider(scrapy.Spider):
    name = "list"
    start_urls = [f"{BASE}/list{i}.html" for i in range(1, PAGES + 1)]

    def parse(self, response):
        for row in response.css("table#books tr.r"):
            yield {
                "title": row.css("td:nth-child(1) a::text").get(),
                "author": row.css("td:nth-child(2)::text").get(),
                "price": row.css("td:nth-child(3)::text").get(),
            }


process = CrawlerProcess(settings={
    "CONCURRENT_REQUESTS": 1,
    "LOG_LEVEL": "ERROR",
    "ROBOTSTXT_OBEY": False,
    "TELNETCONSOLE_ENABLED": False,
    "FEEDS": {OUT: {"format": "jsonlines"}},
})
process.crawl(ListSpider)
process.start()
