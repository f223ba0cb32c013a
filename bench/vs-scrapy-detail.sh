#!/usr/bin/env bash
# A list reached page by page through its "Next" link, each row leading to a detail page, on a
# server that answers every request after DELAY_MS (default 50), as a remote server does:
# PAGES list pages (default 40) of 20 rows and a detail page per row (scripts/list-site.py).
# Download mode (paging by next-page text, nested pages) side by side with a Scrapy spider of
# the same shape at its default settings (16 requests at once, 8 per domain). Whole processes, alternating, RUNS times
# each; medians and their ratio last. Extra arguments after `--` go to gleanmark-cli run.
# Usage: vs-scrapy-detail.sh PATH/TO/gleanmark-cli [RUNS] [DELAY_MS] [PAGES] [-- GLEANMARK ARGS...]
set -euo pipefail
cli=$(readlink -f "$1"); runs=${2:-3}; delay=${3:-50}; pages=${4:-40}
shift $(( $# < 4 ? $# : 4 ))
[ "${1:-}" = "--" ] && shift
/usr/bin/python3 -c "import scrapy" 2>/dev/null || { echo "python3-scrapy is missing (the install script installs it)"; exit 1; }
work=$(mktemp -d)
port=$(/usr/bin/python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
here=$(cd "$(dirname "$0")" && pwd)
/usr/bin/python3 "$here/../scripts/list-site.py" 127.0.0.1 "$port" "$delay" "$pages" 20 paged \
  >/dev/null 2>"$work/server.log" &
server=$!
trap 'kill $server 2>/dev/null || true; rm -rf "$work"' EXIT
for _ in $(seq 50); do /usr/bin/python3 -c "import socket; socket.create_connection(('127.0.0.1',$port),1)" 2>/dev/null && break; sleep 0.1; done
cat >"$work/task.xml" <<XML
<task name="detail" useiectrl="0"><address type="0"><url>http://127.0.0.1:$port/list/1</url></address>
<location path="HTML@HEAD#BODY@TABLE@TBODY@TR" step="#TR">
<data name="title" type="INNERTEXT" path="@TD@A"></data>
<data name="link" type="LINKTASK" attr="href" path="@TD@A">
<location path="HTML@HEAD#BODY@P"><data name="detail" type="INNERTEXT" path=""></data></location>
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
            item = {'title': row.css('td a::text').get()}
            yield r.follow(row.css('td a::attr(href)').get(), self.detail, cb_kwargs={'item': item})
        nxt = r.xpath('//a[text()="Next"]/@href').get()
        if nxt:
            yield r.follow(nxt, self.parse)
    def detail(self, r, item):
        item['detail'] = r.css('p::text').get()
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
