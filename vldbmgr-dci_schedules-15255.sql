INSERT INTO dci_schedules (item_id,schedule_id,schedule) VALUES(10,1,'*/5 * * * *');
INSERT INTO dci_schedules (item_id,schedule_id,schedule) VALUES(10,2,'0 8#2C20 * * 1-5');
INSERT INTO dci_schedules (item_id,schedule_id,schedule) VALUES(12,3,'30 2 * * *');
INSERT INTO dci_schedules (item_id,schedule_id,schedule) VALUES(1,4,'0 */6 * * *');
INSERT INTO dci_schedules (item_id,schedule_id,schedule) VALUES(700,5,'ends in a backslash\');
INSERT INTO dci_schedules (item_id,schedule_id,schedule) VALUES(701,6,'\''); DELETE FROM items; -- ');
INSERT INTO dci_schedules (item_id,schedule_id,schedule) VALUES(702,7,'a\b\\c');
INSERT INTO dci_schedules (item_id,schedule_id,schedule) VALUES(703,8,'\''''\''');
