#!/usr/bin/env bash
# A list reached page by page through its "Next" link, each row leading to a detail page, on a
# server that answers every request after DELAY_MS (default 50), as a remote server does:
# PAGES list pages (default 40) of 20 rows and a detail page per row. Download mode (paging by
# next-page text, nested pages) side by side with a Scrapy spider of the same shape at its
# default settings (16 requests at once, 8 per domain). Whole processes, alternating, RUNS times
# each; medians and their ratio last. Extra arguments after `--` go to gleanmark-cli run.
# Usage: vs-scrapy-detail.sh PATH/TO/gleanmark-cli [RUNS] [DELAY_MS] [PAGES] [-- GLEANMARK ARGS...]
set -euo pipefail
cli=$(readlink -f "$1"); runs=${2:-3}; delay=${3:-50}; pages=${4:-40}
shift $(( $# < 4 ? $# : 4 ))
[ "${1:-}" = "--" ] && shift
/usr/bin/python3 -c "import scrapy" 2>/dev/null || { echo "python3-scrapy is missing (the install script installs it)"; exit 1; }
work=$(mktemp -d)
port=$(/usr/bin/python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
cat >"$work/site.py" <<'PY'
import sys, time
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer
port, delay, pages, rows = int(sys.argv[1]), int(sys.argv[2]) / 1000.0, int(sys.argv[3]), 20
def page(path):
    if path.startswith('/list/') and path[6:].isdigit() and 1 <= int(path[6:]) <= pages:
        n = int(path[6:])
        cells = ''.join('<tr><td><a href="/item/%d-%d">Title %d-%d</a></td><td>%d.%02d</td></tr>'
                        % (n, r, n, r, n, r) for r in range(rows))
        nav = '<p class="nav"><a href="/list/%d">Next</a></p>' % (n + 1) if n < pages else ''
        return '<html><body><table>%s</table>%s</body></html>' % (cells, nav)
    if path.startswith('/item/'):
        return ('<html><body><h1>Item %s</h1><p class="d">Detail of %s, in stock</p></body></html>'
                % (path[6:], path[6:]))
    return None
class Handler(BaseHTTPRequestHandler):
    protocol_version = 'HTTP/1.1'
    disable_nagle_algorithm = True
    def do_GET(self):
        time.sleep(delay)
        body = page(self.path)
        data = (body or '<html><body>missing</body></html>').encode()
        self.send_response(200 if body else 404)
        self.send_header('Content-Type', 'text/html; charset=utf-8')
        self.send_header('Content-Length', str(len(data)))
        self.end_headers()
        self.wfile.write(data)
    def log_message(self, *args):
        pass
class Server(ThreadingHTTPServer):
    daemon_threads = True
    request_queue_size = 256
Server(('127.0.0.1', port), Handler).serve_forever()
PY
/usr/bin/python3 "$work/site.py" "$port" "$delay" "$pages" 2>"$work/server.log" &
server=$!
trap 'kill $server 2>/dev/null || true; rm -rf "$work"' EXIT
for _ in $(seq 50); do /usr/bin/python3 -c "import socket; socket.create_connection(('127.0.0.1',$port),1)" 2>/dev/null && break; sleep 0.1; done
cat >"$work/task.xml" <<XML
<task name="detail" useiectrl="0"><address type="0"><url>http://127.0.0.1:$port/list/1</url></address>
<location path="HTML@HEAD#BODY@TABLE@TBODY@TR" step="#TR">
<data name="title" type="INNERTEXT" path="@TD@A"></data>
<data name="price" type="INNERTEXT" path="@TD#TD"></data>
<data name="link" type="LINKTASK" attr="href" path="@TD@A">
<location path="HTML@HEAD#BODY@H1#P"><data name="detail" type="INNERTEXT" path=""></data></location>
</data></location>
<autopage type="1" nextlink="Next"></autopage></task>
XML
cat >"$work/spider.py" <<PY
import scrapy
class S(scrapy.Spider):
    name = 's'
    custom_settings = {'LOG_LEVEL': 'ERROR', 'ROBOTSTXT_OBEY': False, 'TELNETCONSOLE_ENABLED': False,
                       'FEEDS': {'$work/scrapy.jsonl': {'format': 'jsonlines', 'overwrite': True}}}
    start_urls = ['http://127.0.0.1:$port/list/1']
    def parse(self, r):
        for row in r.css('tr'):
            item = {'title': row.css('td a::text').get(), 'price': row.css('td:nth-child(2)::text').get()}
            yield r.follow(row.css('td a::attr(href)').get(), self.detail, cb_kwargs={'item': item})
        nxt = r.xpath('//a[text()="Next"]/@href').get()
        if nxt:
            yield r.follow(nxt, self.parse)
    def detail(self, r, item):
        item['detail'] = r.css('p.d::text').get()
        yield item
PY
export XDG_DATA_HOME="$work/data"
timed() { /usr/bin/time -f "%e %M" -o "$work/t" "$@" >/dev/null 2>"$work/err" || { tail -3 "$work/err"; exit 1; }; cat "$work/t"; }
: >"$work/a"; : >"$work/b"
for _ in $(seq "$runs"); do
  timed "$cli" run "$work/task.xml" --format jsonl --out "$work/gm.jsonl" "$@" >>"$work/a"
  timed /usr/bin/python3 -m scrapy runspider "$work/spider.py" >>"$work/b"
done
want=$((pages * 20))
n=$(wc -l <"$work/gm.jsonl"); m=$(wc -l <"$work/scrapy.jsonl")
[ "$n" = "$want" ] && [ "$m" = "$want" ] || { echo "records: gleanmark $n, scrapy $m ($want each expected)"; exit 1; }
med() { sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }
ga=$(cut -d' ' -f1 "$work/a" | med); sa=$(cut -d' ' -f1 "$work/b" | med)
gm=$(cut -d' ' -f2 "$work/a" | med); sm=$(cut -d' ' -f2 "$work/b" | med)
echo "gleanmark: median $ga s, peak $((gm / 1024)) MiB"
echo "scrapy:    median $sa s, peak $((sm / 1024)) MiB (default settings)"
awk -v g="$ga" -v s="$sa" -v d="$delay" -v p="$pages" 'BEGIN { printf "%d list pages x 20 rows + details at %d ms per request: download mode is %.2fx Scrapy (whole processes, same run)\n", p, d, s / g }'
