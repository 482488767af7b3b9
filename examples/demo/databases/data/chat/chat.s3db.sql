-- Chat history as version 8.0.0.3 of the client left it: 300 messages.
CREATE TABLE TVERSION(F_TABLENAME TEXT, F_TABLEVERSION TEXT);
INSERT INTO TVERSION VALUES ('TMAIN', '8.0.0.3');

CREATE TABLE TMESSAGE(F_ID INTEGER PRIMARY KEY, F_CONTACTID INTEGER, F_DIRECTION INTEGER,
    F_TEXT TEXT, F_TIME TEXT);
WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 300)
INSERT INTO TMESSAGE
SELECT i, 1 + (i * 37) % 60, i % 2,
       CASE i % 8
           WHEN 0 THEN '你好，明天的会议改到下午三点。'
           WHEN 1 THEN '收到，谢谢！'
           WHEN 2 THEN '文件已经发到你的邮箱，请查收。'
           WHEN 3 THEN '周末一起吃饭吗？'
           WHEN 4 THEN '好的，没问题。'
           WHEN 5 THEN '报价单第' || i || '版，请确认。'
           WHEN 6 THEN '路上堵车，晚到十分钟。'
           ELSE 'It''s fine — 我们下次再聊。'
       END,
       datetime('2025-06-01 08:00:00', '+' || (i * 53) || ' minutes')
FROM n;
