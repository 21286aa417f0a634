<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en_US">
<context>
    <name>MainWindow</name>
    <message><source>MainWindow</source><translation type="unfinished"></translation></message>
    <message><source>开始下载</source><translation type="unfinished"></translation></message>
    <message><source>选择文件</source><translation type="unfinished"></translation></message>
    <message><source>下载</source><translation type="unfinished"></translation></message>
    <message><source>文件路径</source><translation type="unfinished"></translation></message>
    <message><source>更新</source><translation type="unfinished"></translation></message>
    <message><source>DownLoad</source><translation type="unfinished"></translation></message>
    <message><source>File Path</source><translation type="unfinished"></translation></message>
</context>
<context>
    <name>HelpText</name>
    <message><source>Dialog</source><translation type="unfinished"></translation></message>
    <message><source>Help</source><translation type="unfinished"></translation></message>
    <message><source>Open File</source><translation type="unfinished"></translation></message>
</context>
</TS>
