<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en_US">
<context>
    <name>AesPanel</name>
    <message>
        <source>AES</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>AES INPUTS</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>sample rate</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>convert</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>sync to</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source> 1</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>ON</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source> 2</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source> 3</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source> 4</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source> 5</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source> 6</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source> 7</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source> 8</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>AES outputs do not have converters</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>CardPanel</name>
    <message>
        <source>Form</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>CommandLine</name>
    <message>
        <source>Sable Fold Controller: finds the box&apos;s two USB serial adapters (KIP 1, the master slot, and KIP 2), shows what each slot&apos;s card reports, changes its settings and updates its firmware. The events of both slots are kept in the Events window (Ctrl+E) and in events.log under the program&apos;s data folder.</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>Common::Updater</name>
    <message>
        <source>Firmware file %1 not found in filesystem. Attempting to update from resource system</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>No firmware found in resource system</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Firmware file %1 is empty</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Updater received %1 invalid bytes:</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Update aborted: too many retries</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Update aborted: received %1 in reply to %2</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Cannot read firmware file %1</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Download started</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Downloaded %1</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Update successful. Resetting</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>EMS::AesPanel</name>
    <message>
        <source>ON</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>OFF</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>EMS::AppConnection</name>
    <message>
        <source>error sending data to </source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source> network disconnected</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source> network looking up host...</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source> network connecting...</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source> network connected</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source> network opened</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source> network listening...</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source> network closing...</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>EMS::EngineMessenger</name>
    <message>
        <source>Message too long to send: %1 value words</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Buffer was too big: %1 data ignored.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Invalid checksum %1 != %2</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Rx data error from engine: %1 ignored</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Invalid engine message: %1</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Engine reports error: %1</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>EMS::EventExport</name>
    <message>
        <source>not an event history: the first line is not &quot;%1&quot;</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>record %1 is not an event</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>EMS::EventHistory</name>
    <message>
        <source>KIP %1</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>info</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>warning</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>ALARM</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>%1 (%2 times)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Time</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Slot</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Severity</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Event</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>EMS::EventsWindow</name>
    <message>
        <source>Events - Sable Fold Controller</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Both slots</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>All events</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Warnings and alarms</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Alarms only</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Search the texts</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Export CSV...</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Export JSON lines...</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Also written to %1 (kept over restarts)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Export the events as CSV</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Export the events as JSON lines</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>CSV files (*.csv)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>JSON lines (*.jsonl *.json)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>%1 events written to %2</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Could not write %1: %2</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>EMS::HydraPanel</name>
    <message>
        <source>Locked</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Not Locked</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>EMS::KipConnection</name>
    <message>
        <source>No engine link for %1</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Connected via engine</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Connecting to port %1</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Could not open %1, config problem reported</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Could not open %1, error reported</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Connected to %1</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>disconnected from engine</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Serial port %1 closed</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>error sending data</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>EMS::KipForm</name>
    <message>
        <source>%1°C</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>To update this card please ensure the firmware code %1 and the fpga code %2 are in the same folder as the SablefoldController. Then use the buttons above.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Update Code *</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Update Code</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>not found</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source> Looked in %1: %2 not found.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source> and </source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>EMS::KipFpgaUpdater</name>
    <message>
        <source>Cannot open FPGA image %1</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>FPGA image %1 is empty</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>FPGA image %1 is too large: %2 bytes, at most %3 fit</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Erasing flash...</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Packet number not received</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Packet number sequence error: %1 received</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Image complete reply before the image was sent</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>FPGA image read error</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Downloaded %1</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>%1 at packet %2. Update aborted</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>EMS::KipPort</name>
    <message>
        <source>Card removed from KIP %1</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>KIP Rx Data Error: </source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source> ignored</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Code file not found: </source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Code update successful</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>FPGA file not found: </source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>File not found: </source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>FPGA update successful</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Code update failed</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>FPGA update failed</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>EMS::KipUpgrader</name>
    <message>
        <source>No update required for this card</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Code file not found: %1</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>FPGA file not found: %1</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Code file is empty: %1</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>FPGA file is empty: %1</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>EMS::LoaderErrors</name>
    <message>
        <source>Ack</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Packet Length error</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>File Checksum error</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>File Size error</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Flash Verify error</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>unknown</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>EMS::MadiPanel</name>
    <message>
        <source>Channels: %1 %2</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>96k</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Quorack</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>QX-rack</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Q-rack</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>QX-mini</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>QX-nano</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Q2-rack</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>DAC</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>ADC</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>AES out</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>AES in</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>TDif</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>ADat</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>AES i/o</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Aviom</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Ether</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>AES 42</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>HD-SDI</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Dante</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>none</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Rack</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Console</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Generic</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Quorix</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>fixed</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>track Rx</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Disabled (single port mode)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Rx </source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Rx Sample Rate: %1 smux</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Rx Sample Rate: %1</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Rx Sync: </source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Locked</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Not Locked</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Tx %1 %2</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Connection: </source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Rack type: </source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Rack code: </source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>EMS::OptocorePanel</name>
    <message>
        <source>Optocore</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Locked</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Not Locked</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>EMS::OptocoreUpdateJob</name>
    <message>
        <source>No Optocore updater</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>EMS::OptocoreUpdatePanel</name>
    <message>
        <source>Build.txt file not found</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>udi71221.bin file not found</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>pdi71221.sop file not found</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Optocore updated successfully</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>EMS::OptocoreUpdater</name>
    <message>
        <source>%1 file not found</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>%1 cannot be read</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>%1 is empty</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>%1 is too large: %2 bytes</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Optocore module refused step %1: %2</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Packet number not received</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Packet number sequence error: %1 received</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Downloading %1 ...</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>%1 read error</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Downloaded %1</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>%1 at packet %2 in file %3. Update aborted</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>EMS::SlotController</name>
    <message>
        <source>BNC MADI</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>CAT5 MADI</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>%1 ready</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>please wait - updating code</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>please wait - updating FPGA</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>please wait - updating as required</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>please wait - updating Optocore</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>update failed</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>EMS::SlotEventRecorder</name>
    <message>
        <source>device not found</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>permission denied, or another program holds it</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>already open</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>the adapter went away</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>read error</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>write error</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>timeout</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>not open</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>error %1</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Port %1 opened</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>%1 card restarts for its update</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>%1 card removed: no answer</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>%1 card out of reach: port closed</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>%1 card found (firmware %2, FPGA %3)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Card type changed from %1 to %2</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Firmware version changed from %1 to %2</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>FPGA version changed from %1 to %2</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Card reports an implausible temperature: raw value %1</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Temperature %1 °C, above the limit of %2 °C</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Temperature back to %1 °C</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Rack on %1, PSU %2, %3 rail</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Rack supply report not understood: port %1, PSU %2, rail %3 V, raw value %4 V</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>%1 at %2 V, outside ±10 %</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>%1 back to %2 V</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>MADI A</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>MADI B</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>input %1</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>%1 input %2</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>%1 lost lock: the box&apos;s clock source</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>%1 lost lock</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>%1 not locked</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>%1 locked again</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Sync source changed from %1 to %2</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Sample rate changed from %1 Hz to %2 Hz</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Port %1 closed</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Could not open %1: busy (the other slot or another program holds it) or not available</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Link lost on %1: %2</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Serial error on %1: %2</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>The card answers from its boot loader for its update</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>The card answers from its boot loader, without its program</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Code</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>FPGA</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>%1 update started: %2, version %3</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Update not started: %1</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Update successful after %1 s</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Update failed after %1 s</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Optocore module update failed after %1 s: no progress</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Update failed after %1 s: no progress</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Optocore module update started</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Optocore module update ended after %1 s</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>EMS::UpdateAllJob</name>
    <message>
        <source>No upgrader</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Update failed</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>HydraPanel</name>
    <message>
        <source>Hydra</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Auto</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Word Clock</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Rx Sample Rate</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Rx Sync</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Not Locked</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Hydra ID</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Changing Hydra ID</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>requires power cycle</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>to take effect</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>&lt;!DOCTYPE HTML PUBLIC &quot;-//W3C//DTD HTML 4.0//EN&quot; &quot;http://www.w3.org/TR/REC-html40/strict.dtd&quot;&gt;
&lt;html&gt;&lt;head&gt;&lt;meta name=&quot;qrichtext&quot; content=&quot;1&quot; /&gt;&lt;style type=&quot;text/css&quot;&gt;
p, li { white-space: pre-wrap; }
&lt;/style&gt;&lt;/head&gt;&lt;body style=&quot; font-family:&apos;Arial&apos;; font-size:8pt; font-weight:400; font-style:normal;&quot;&gt;
&lt;p align=&quot;center&quot; style=&quot; margin-top:0px; margin-bottom:0px; margin-left:0px; margin-right:0px; -qt-block-indent:0; text-indent:0px;&quot;&gt;&lt;span style=&quot; font-size:12pt; font-weight:600; color:#ff0000;&quot;&gt;WARNING!&lt;/span&gt;&lt;/p&gt;
&lt;p align=&quot;center&quot; style=&quot; margin-top:0px; margin-bottom:0px; margin-left:0px; margin-right:0px; -qt-block-indent:0; text-indent:0px;&quot;&gt;&lt;span style=&quot; font-size:10pt; font-weight:600; color:#ff0000;&quot;&gt;Hydra can only be used &lt;/span&gt;&lt;/p&gt;
&lt;p align=&quot;center&quot; style=&quot; margin-top:0px; margin-bottom:0px; margin-left:0px; margin-right:0px; -qt-block-indent:0; text-indent:0px;&quot;&gt;&lt;span style=&quot; font-size:10pt; font-weight:600; color:#ff0000;&quot;&gt;in the KIP 2 &lt;/span&gt;&lt;span style=&quot; font-size:10pt; font-weight:600; font-style:italic; color:#ff0000;&quot;&gt;SLAVE&lt;/span&gt;&lt;span style=&quot; font-size:10pt; font-weight:600; color:#ff0000;&quot;&gt; slot&lt;/span&gt;&lt;/p&gt;&lt;/body&gt;&lt;/html&gt;</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>KipForm</name>
    <message>
        <source>KIP</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Control</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>card type</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>temp</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>controller connection</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>sync source</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Update Code</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>running</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>available</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>firmware version</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>fpga version</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Update FPGA</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Update all if required</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>UPDATE RECOMMENDED</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>&lt;html&gt;&lt;head/&gt;&lt;body&gt;&lt;p&gt;To update this card please ensure the firmware code quorix_kip_xxx.bin and the fpga code quorix_kip_xxx_fpga.bit are in the same folder as the SablefoldController.&lt;/p&gt;&lt;p&gt;Then use the buttons above.&lt;/p&gt;&lt;/body&gt;&lt;/html&gt;</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>LogDialog</name>
    <message>
        <source>Serial Log</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>KIP %1 Serial Log</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Tx </source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Rx </source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>MadiPanel</name>
    <message>
        <source>MADI</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Auto</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Word Clock</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>MADI A</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>MADI B</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>MADI type</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Quorix</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Fixed</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>SMUX</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>rack slots</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>1</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source> 8</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>2</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source> 9</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>3</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>10</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>4</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>11</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>5</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>12</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>6</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>13</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>7</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>14</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>PSU</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>+5v</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>+7v</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>+15v</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>-15v</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>A</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>B</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>MainWindow</name>
    <message>
        <source>Sable Fold Controller v 1.6</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>KIP 1</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>MASTER</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>KIP 2</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>SLAVE</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>sync source</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>sample rate</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>MADI A</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Rx OK</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>MADI B</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Rx ERR</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Log</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>KIP 1 </source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>KIP 2 </source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Click to acknowledge; the Events window (Ctrl+E) lists every alarm</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Events...</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>KIP %1 serial log...</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>KIP %1 ALARM %2: %3</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source> (%1 more in Events)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>No USB serial adapter found: connect the box&apos;s two USB cables to this computer; the slots connect by themselves. To try the controller without the box, start sablefold-demo.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source> - the other slot or another program holds the port</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>KIP %1</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>%1: a firmware update is running. Closing now stops it: the card may be left in its boot loader without its program. The controller finds such a card at its next start and loads its code again. Close anyway?</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source> and </source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Window closed during the update: the card may be left in its boot loader, to be found and loaded at the next start</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>OptocorePanel</name>
    <message>
        <source>Optocore</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Auto</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Word Clock</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Dante</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Rx Sample Rate</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Rx Sync</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Not Locked</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Fibre Speed</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>1Gb</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>2Gb</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Channel Counts</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>A</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>B</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>inputs</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>to fibre</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>0</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>8</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>16</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>24</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>32</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>40</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>48</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>56</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>64</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>outputs</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>from fibre</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Optocore ID</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>11</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>12</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>13</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>14</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>15</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>17</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>18</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>19</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>20</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>21</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>22</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>23</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>MADI Mode</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>1 x 64</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>2 x 32</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>clock</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>dec</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>inc</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>OptocoreUpdatePanel</name>
    <message>
        <source>Form</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>color:rgb(130,65,0)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Optocore version</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>running</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>background-color:rgb(255,250,240);
</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>available</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Update Optocore</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>RemoteOptions</name>
    <message>
        <source>Serial device of KIP 1 (e.g. a kipsim pseudo-terminal).</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Serial device of KIP 2.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Publish the controllers&apos; state over OSC to HOST:PORT.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Take OSC commands on this UDP port (off by default).</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Address the OSC command port listens on (default 127.0.0.1).</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>OSC target %1 is not HOST:PORT</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>OSC port %1 is not a port number</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>OSC address %1 is not an IP address</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Cannot take OSC commands on %1 port %2: %3</source>
        <translation type="unfinished"></translation>
    </message>
</context>
</TS>
