// An independent Sparkplug B decoder and encoder for host_sparkplug_test.sh:
// the npm package sparkplug-payload and its own copy of the schema, pinned
// by package-lock.json.
//   node sparkplug.js decode   "TOPIC HEX" lines in, "TOPIC JSON" lines out
//   node sparkplug.js encode JSON   the payload, binary, on standard output
const sp = require('sparkplug-payload').get('spBv1.0');
const { Payload } = require('sparkplug-payload/lib/sparkplugPayloadProto').org.eclipse.tahu.protobuf;
const readline = require('readline');

const fields = ['intValue', 'longValue', 'floatValue', 'doubleValue', 'booleanValue', 'stringValue'];
const birthTypes = {};  // alias -> datatype, as births told them
// The value whichever field holds it; Int8/16/32 and Int64 read signed.
function valueOf(m) {
    const f = fields.find((name) => m[name] !== undefined);
    const type = m.datatype === undefined ? birthTypes[m.alias] : m.datatype;
    if (f === 'intValue' && [1, 2, 3].includes(type)) return m.intValue | 0;
    if (f === 'longValue' && type === 4) return Number(BigInt.asIntN(64, BigInt(m.longValue)));
    return f === undefined ? undefined : m[f];
}

function decode(topic, hex) {
    const o = Payload.toObject(Payload.decode(Buffer.from(hex, 'hex')), { longs: String });
    if (topic.includes('BIRTH/')) (o.metrics || []).forEach((m) => { birthTypes[m.alias] = m.datatype; });
    return {
        seq: o.seq === undefined ? undefined : Number(o.seq),
        ts: Number(o.timestamp),
        metrics: (o.metrics || []).map((m) => ({
            name: m.name, alias: m.alias === undefined ? undefined : Number(m.alias), type: m.datatype,
            ts: m.timestamp === undefined ? undefined : Number(m.timestamp), null: m.isNull, hist: m.isHistorical,
            value: valueOf(m),
        })),
    };
}

if (process.argv[2] === 'encode') {
    process.stdout.write(Buffer.from(sp.encodePayload(JSON.parse(process.argv[3]))));
} else {
    readline.createInterface({ input: process.stdin }).on('line', (line) => {
        const [topic, hex = ''] = line.split(' ');
        if (!topic.startsWith('spBv1.0/')) return;
        let out;
        try {
            out = topic.includes('/STATE/') ? Buffer.from(hex, 'hex').toString() : JSON.stringify(decode(topic, hex));
        } catch (e) {
            out = JSON.stringify({ error: e.message });
        }
        console.log(topic + ' ' + out);
    });
}
